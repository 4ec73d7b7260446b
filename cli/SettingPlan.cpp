#include "cli/SettingPlan.h"

#include "model/DeviceCapabilities.h"
#include "model/ReadingText.h"

#include <algorithm>
#include <iterator>

namespace {

// A setting chosen from the device's list, and how an error names that list.
struct ChoiceSetting {
    ACSetting setting;
    const char* listName;
    QStringList (*choices)(const SensiboDevice&);
};

const ChoiceSetting choiceSettings[] = {
    {ACSetting::Mode, "modes", DeviceCapabilities::modes},
    {ACSetting::FanLevel, "fan levels", DeviceCapabilities::fanLevels},
    {ACSetting::Swing, "swing settings", DeviceCapabilities::swingModes},
    {ACSetting::HorizontalSwing, "horizontal swing settings", DeviceCapabilities::horizontalSwingModes},
    {ACSetting::Light, "light settings", DeviceCapabilities::lightModes},
};

QString inMode(const SensiboDevice& device)
{
    return device.acState && device.acState->mode ? QStringLiteral(" in mode ") + *device.acState->mode : QString();
}

// The choice `value` names: exactly, or else in any case; empty when none.
QString findChoice(const QStringList& choices, const QString& value)
{
    if (choices.contains(value)) {
        return value;
    }
    for (const QString& choice : choices) {
        if (choice.compare(value, Qt::CaseInsensitive) == 0) {
            return choice;
        }
    }
    return {};
}

// Plans one pair after another on a copy of the device that takes each planned change, so that a pair is checked
// against the device as the pairs before it leave it. Each step gives false after setting the plan's error.
class Planner
{
public:
    explicit Planner(const SensiboDevice& device)
        : m_name(deviceName(device))
        , m_device(device)
    {
        if (!m_device.acState) {
            m_device.acState = ACState{};
        }
    }

    bool power(const QString& value)
    {
        const QString power = value.toLower();
        if (power != u"on" && power != u"off" && power != u"toggle") {
            return fail(QStringLiteral("power takes on, off or toggle, not \"%1\"").arg(value));
        }
        state().on = power == u"toggle" ? !state().on : power == u"on";
        m_plan.changes.append({ACSetting::Power, state().on});
        return true;
    }

    bool temperature(const QString& value)
    {
        const auto range = DeviceCapabilities::temperatureRange(m_device);
        if (!range) {
            return fail(QStringLiteral("%1 has no target temperature%2").arg(m_name, inMode(m_device)));
        }
        bool isNumber = false;
        const qint64 number = value.toLongLong(&isNumber);
        if (!isNumber) {
            return fail(QStringLiteral("temp takes a whole number, +N or -N, not \"%1\"").arg(value));
        }
        const QString unit = QStringLiteral("°") + state().temperatureUnit.value_or(QString());
        const auto [lowest, highest] = *range;
        const bool relative = value.startsWith(u'+') || value.startsWith(u'-');
        if (!relative && (number < lowest || number > highest)) {
            return fail(QStringLiteral("%1 takes a target from %2 to %3%4%5, not %6")
                            .arg(m_name, QString::number(lowest), QString::number(highest), unit, inMode(m_device),
                                 QString::number(number)));
        }
        // A step starts from the target shown, or from the lowest when there is none, as on the panel.
        const qint64 current = state().targetTemperature.value_or(lowest);
        const qint64 target = relative ? DeviceCapabilities::stepTemperature(current, number, *range) : number;
        if (relative && target == current) {
            m_plan.notes.append(QStringLiteral("%1 stays at %2%3, the end of its range%4")
                                    .arg(m_name, QString::number(current), unit, inMode(m_device)));
            return true;
        }
        state().targetTemperature = target;
        m_plan.changes.append({ACSetting::TargetTemperature, target});
        return true;
    }

    bool choice(const ChoiceSetting& setting, const QString& value)
    {
        const QStringList choices = setting.choices(m_device);
        const QString listName = QLatin1String(setting.listName);
        if (choices.isEmpty()) {
            return fail(QStringLiteral("%1 has no %2%3").arg(m_name, listName, inMode(m_device)));
        }
        const QString choice = findChoice(choices, value);
        if (choice.isEmpty()) {
            return fail(QStringLiteral("%1 has no %2 \"%3\"%4; its %5: %6")
                            .arg(m_name, commandWord(setting.setting), value, inMode(m_device), listName,
                                 choices.join(QStringLiteral(", "))));
        }
        applySetting(state(), setting.setting, choice);
        m_plan.changes.append({setting.setting, choice});
        return true;
    }

    bool fail(const QString& error)
    {
        m_plan.error = error;
        return false;
    }

    SettingPlan plan() const { return m_plan; }

private:
    ACState& state() { return *m_device.acState; }

    QString m_name;
    SensiboDevice m_device; // as it will be after the changes planned so far
    SettingPlan m_plan;
};

} // namespace

SettingPlan planSettings(const SensiboDevice& device, const QList<SettingArgument>& settings)
{
    Planner planner(device);
    for (const SettingArgument& argument : settings) {
        const std::optional<ACSetting> setting = settingFromCommandWord(argument.setting);
        const auto choice = std::find_if(std::begin(choiceSettings), std::end(choiceSettings),
                                         [&](const ChoiceSetting& s) { return setting == s.setting; });
        bool planned = false;
        if (setting == ACSetting::Power) {
            planned = planner.power(argument.value);
        } else if (setting == ACSetting::TargetTemperature) {
            planned = planner.temperature(argument.value);
        } else if (choice != std::end(choiceSettings)) {
            planned = planner.choice(*choice, argument.value);
        } else {
            planned = planner.fail(QStringLiteral("unknown setting \"%1\"; the settings are power, mode, temp, fan, "
                                                  "swing, hswing and light")
                                       .arg(argument.setting));
        }
        if (!planned) {
            break;
        }
    }
    return planner.plan();
}
