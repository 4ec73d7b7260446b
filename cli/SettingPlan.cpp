#include "cli/SettingPlan.h"

#include "model/ReadingText.h"
#include "service/DeviceCapabilities.h"

namespace {

// A setting as typed, and the acState property it changes.
struct Setting {
    const char* word;
    const char* property;
    const char* listName; // how an error names the device's choices
    QStringList (*choices)(const SensiboDevice&);
    std::optional<QString> ACState::*field;
};

const Setting textSettings[] = {
    {"mode", "mode", "modes", DeviceCapabilities::modes, &ACState::mode},
    {"fan", "fanLevel", "fan levels", DeviceCapabilities::fanLevels, &ACState::fanLevel},
    {"swing", "swing", "swing settings", DeviceCapabilities::swingModes, &ACState::swing},
    {"hswing", "horizontalSwing", "horizontal swing settings", DeviceCapabilities::horizontalSwingModes,
     &ACState::horizontalSwing},
    {"light", "light", "light settings", DeviceCapabilities::lightModes, &ACState::light},
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

} // namespace

SettingPlan planSettings(const SensiboDevice& device, const QList<SettingArgument>& settings)
{
    SettingPlan plan;
    // The device as it will be after the changes planned so far.
    SensiboDevice planned = device;
    if (!planned.acState) {
        planned.acState = ACState{};
    }
    ACState& state = *planned.acState;
    const QString name = deviceName(device);

    for (const SettingArgument& argument : settings) {
        const QString word = argument.setting.toLower();
        const QString& value = argument.value;

        if (word == u"power") {
            const QString power = value.toLower();
            if (power != u"on" && power != u"off" && power != u"toggle") {
                plan.error = QStringLiteral("power takes on, off or toggle, not \"%1\"").arg(value);
                return plan;
            }
            state.on = power == u"toggle" ? !state.on : power == u"on";
            plan.changes.append({QStringLiteral("on"), state.on});
            continue;
        }

        if (word == u"temp") {
            const auto range = DeviceCapabilities::temperatureRange(planned);
            if (!range) {
                plan.error = QStringLiteral("%1 has no target temperature%2").arg(name, inMode(planned));
                return plan;
            }
            bool isNumber = false;
            const qint64 number = value.toLongLong(&isNumber);
            if (!isNumber) {
                plan.error = QStringLiteral("temp takes a whole number, +N or -N, not \"%1\"").arg(value);
                return plan;
            }
            const QString unit = QStringLiteral("°") + state.temperatureUnit.value_or(QString());
            const auto [lowest, highest] = *range;
            const bool relative = value.startsWith(u'+') || value.startsWith(u'-');
            if (!relative && (number < lowest || number > highest)) {
                plan.error = QStringLiteral("%1 takes a target from %2 to %3%4%5, not %6")
                                 .arg(name, QString::number(lowest), QString::number(highest), unit, inMode(planned),
                                      QString::number(number));
                return plan;
            }
            // A step starts from the target shown, or from the lowest when there is none, as on the panel.
            const qint64 current = state.targetTemperature.value_or(lowest);
            const qint64 target = relative ? DeviceCapabilities::stepTemperature(current, number, *range) : number;
            if (relative && target == current) {
                plan.notes.append(QStringLiteral("%1 stays at %2%3, the end of its range%4")
                                      .arg(name, QString::number(current), unit, inMode(planned)));
                continue;
            }
            state.targetTemperature = target;
            plan.changes.append({QStringLiteral("targetTemperature"), target});
            continue;
        }

        const Setting* setting = nullptr;
        for (const Setting& candidate : textSettings) {
            if (word == QLatin1String(candidate.word)) {
                setting = &candidate;
            }
        }
        if (!setting) {
            plan.error = QStringLiteral("unknown setting \"%1\"; the settings are power, mode, temp, fan, swing, "
                                        "hswing and light")
                             .arg(argument.setting);
            return plan;
        }
        const QStringList choices = setting->choices(planned);
        const QString listName = QLatin1String(setting->listName);
        if (choices.isEmpty()) {
            plan.error = QStringLiteral("%1 has no %2%3").arg(name, listName, inMode(planned));
            return plan;
        }
        const QString choice = findChoice(choices, value);
        if (choice.isEmpty()) {
            plan.error = QStringLiteral("%1 has no %2 \"%3\"%4; its %5: %6")
                             .arg(name, QLatin1String(setting->word), value, inMode(planned), listName,
                                  choices.join(QStringLiteral(", ")));
            return plan;
        }
        state.*(setting->field) = choice;
        plan.changes.append({QLatin1String(setting->property), choice});
    }
    return plan;
}
