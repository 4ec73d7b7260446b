#pragma once

#include <QObject>

// Whether the desktop has an XEmbed system tray (an X11 tray manager: trayer, stalonetray, older panels) and word
// when that changes. X11TrayManager asks the X server; tests put one up and take it down themselves.
class XEmbedTrays : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool available() const = 0;

Q_SIGNALS:
    // A tray manager came, went or was replaced.
    void changed();
};
