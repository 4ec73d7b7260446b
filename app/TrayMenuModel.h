#pragma once

#include "tray/TrayMenuItem.h"

#include <QObject>

#include <functional>

class SensiboService;
struct ACState;
struct ClimateRow;

// What Kelvo's tray menu holds, built from the device service by the panel's own rules, so that the air conditioner
// can be run from the menu alone: the selected device's room and readings, Power, the timer and Climate React, the
// rows the panel shows for the current mode as submenus of choices, the device choice, then Open Kelvo, Settings... and
// Quit Kelvo. Without a key, while the first list loads and after a failed one it says what the panel says. A choice is
// the panel's own service call. The tree is made anew whenever the service changes; itemsChanged() says when it shows
// something new.
class TrayMenuModel : public QObject
{
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> openPanel;
        std::function<void()> openSettings;
        std::function<void()> quit;
    };

    // A temperature range of more values than this is offered as one step warmer and one step cooler.
    static constexpr qint64 maxTemperatureChoices = 32;

    TrayMenuModel(SensiboService& service, Actions actions, QObject* parent = nullptr);

    const QList<TrayMenuItem>& items() const { return m_items; }

Q_SIGNALS:
    void itemsChanged();

private:
    void sync();
    QList<TrayMenuItem> build() const;
    QList<TrayMenuItem> deviceEntries() const;
    TrayMenuItem rowEntry(const ClimateRow& row) const;
    TrayMenuItem temperatureEntry(const ClimateRow& row, const QString& unit) const;
    QList<TrayMenuItem> extrasEntries(const ACState& state) const;
    TrayMenuItem appEntry(const QString& key, const QString& label, const std::function<void()>& action) const;

    SensiboService& m_service;
    Actions m_actions;
    QList<TrayMenuItem> m_items;
};
