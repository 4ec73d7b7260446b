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

// The listed values nearest to `target`: one, or two at the same distance.
QList<qint64> nearest(const QList<qint64>& values, qint64 target)
{
    const auto distance = [target](qint64 value) { return value > target ? value - target : target - value; };
    const qint64 best = distance(*std::min_element(values.cbegin(), values.cend(),
                                                   [&](qint64 a, qint64 b) { return distance(a) < distance(b); }));
    QList<qint64> found;
    std::copy_if(values.cbegin(), values.cend(), std::back_inserter(found),
                 [&](qint64 value) { return distance(value) == best; });
    return found;
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

    bool power(const SettingArgument& argument)
    {
        const bool on = argument.kind == SettingArgument::Kind::Toggle ? !state().on : std::get<bool>(argument.value);
        plan(argument, on, on ? QStringLiteral("on") : QStringLiteral("off"));
        return true;
    }

    bool temperature(const SettingArgument& argument)
    {
        const QList<qint64> values = DeviceCapabilities::temperatureValues(m_device);
        if (values.isEmpty()) {
            return fail(QStringLiteral("%1 has no target temperature%2").arg(m_name, inMode(m_device)));
        }
        const QString unit = state().temperatureUnit.value_or(QString());
        const auto degrees = [&](qint64 value) { return targetTemperatureText(value, unit); };
        const qint64 number = std::get<qint64>(argument.value);
        if (argument.kind == SettingArgument::Kind::Value) {
            if (!values.contains(number)) {
                QStringList near;
                for (const qint64 value : nearest(values, number)) {
                    near.append(degrees(value));
                }
                return fail(QStringLiteral("%1 takes no target of %2%3; the nearest it takes: %4 (from %5 to %6)")
                                .arg(m_name, degrees(number), inMode(m_device), near.join(QStringLiteral(", ")),
                                     degrees(values.first()), degrees(values.last())));
            }
            plan(argument, number, QString::number(number));
            return true;
        }
        // A step starts from the target shown, or from the lowest when there is none, as on the panel, and moves
        // along the values the device lists.
        const qint64 current = state().targetTemperature.value_or(values.first());
        QList<qint64> ahead;
        std::copy_if(values.cbegin(), values.cend(), std::back_inserter(ahead),
                     [&](qint64 value) { return number > 0 ? value > current : value < current; });
        if (number < 0) {
            std::reverse(ahead.begin(), ahead.end());
        }
        if (number == 0 || ahead.isEmpty()) {
            m_plan.notes.append(QStringLiteral("%1 stays at %2%3%4")
                                    .arg(m_name, degrees(current),
                                         number == 0 ? QString() : QStringLiteral(", the end of its range"),
                                         inMode(m_device)));
            return true;
        }
        const qint64 steps = number > 0 ? number : -number;
        const qint64 target = ahead.at(qsizetype(std::min<qint64>(steps, ahead.size())) - 1);
        plan(argument, target, QString::number(target));
        return true;
    }

    bool choice(const ChoiceSetting& setting, const SettingArgument& argument)
    {
        const QStringList choices = setting.choices(m_device);
        const QString listName = QLatin1String(setting.listName);
        if (choices.isEmpty()) {
            return fail(QStringLiteral("%1 has no %2%3").arg(m_name, listName, inMode(m_device)));
        }
        const QString value = std::get<QString>(argument.value);
        const QString choice = findChoice(choices, value);
        if (choice.isEmpty()) {
            return fail(QStringLiteral("%1 has no %2 \"%3\"%4; its %5: %6")
                            .arg(m_name, commandWord(setting.setting), value, inMode(m_device), listName,
                                 choices.join(QStringLiteral(", "))));
        }
        plan(argument, choice, choice);
        return true;
    }

    bool fail(const QString& error)
    {
        m_plan.error = error;
        return false;
    }

    SettingPlan result() const { return m_plan; }

private:
    ACState& state() { return *m_device.acState; }

    void plan(const SettingArgument& argument, const ACValue& value, const QString& valueText)
    {
        applySetting(state(), argument.setting, value);
        m_plan.changes.append({argument.setting, value, argument.typedSetting + u' ' + valueText});
    }

    QString m_name;
    SensiboDevice m_device; // as it will be after the changes planned so far
    SettingPlan m_plan;
};

} // namespace

SettingPlan planSettings(const SensiboDevice& device, const QList<SettingArgument>& settings)
{
    Planner planner(device);
    for (const SettingArgument& argument : settings) {
        const auto choice = std::find_if(std::begin(choiceSettings), std::end(choiceSettings),
                                         [&](const ChoiceSetting& s) { return argument.setting == s.setting; });
        bool planned = false;
        if (argument.setting == ACSetting::Power) {
            planned = planner.power(argument);
        } else if (argument.setting == ACSetting::TargetTemperature) {
            planned = planner.temperature(argument);
        } else if (choice != std::end(choiceSettings)) {
            planned = planner.choice(*choice, argument);
        }
        if (!planned) {
            break;
        }
    }
    return planner.result();
}
