#pragma once

#include <QByteArray>
#include <QString>

// The local socket of the running tray Kelvo. There is one per settings folder, so two Kelvos with different
// settings folders (a demo, a test) never meet, while a second start on the same folder finds the first. Other
// Kelvo processes (a second start, the command line) write one message per line.
namespace InstanceSocket {

// Open the panel where the user will see it.
inline const QByteArray openMessage = QByteArrayLiteral("open\n");
// The devices changed elsewhere (the command line): load them now instead of at the next refresh.
inline const QByteArray refreshMessage = QByteArrayLiteral("refresh\n");

// The socket's path for the settings folder `preferencesDirectory`: in $XDG_RUNTIME_DIR when it is the user's
// own private folder, otherwise in the settings folder itself.
QString path(const QString& preferencesDirectory);

} // namespace InstanceSocket
