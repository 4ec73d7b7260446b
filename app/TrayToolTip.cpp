#include "app/TrayToolTip.h"

#include "model/ExtrasText.h"
#include "model/ReadingText.h"
#include "panel/DisplayNames.h"
#include "service/SensiboService.h"

namespace {
TrayToolTip titled(const QString& state, const QString& more = {})
{
    return {QStringLiteral("Kelvo: ") + state, more};
}
} // namespace

TrayToolTip TrayToolTip::of(const SensiboService& service)
{
    if (service.apiKey().isEmpty()) {
        return titled(QStringLiteral("No API Key Configured"));
    }
    const std::optional<SensiboDevice> device = service.selectedDevice();
    if (!device) {
        if (service.errorMessage()) {
            return titled(*service.errorMessage());
        }
        return titled(service.isLoading() ? QStringLiteral("Loading…") : QStringLiteral("No devices found"));
    }
    QString state = QStringLiteral("Off");
    if (device->acState && device->acState->on) {
        const ACState& ac = *device->acState;
        state = ac.mode ? displayName(*ac.mode) : QStringLiteral("On");
        if (ac.targetTemperature) {
            state += QStringLiteral(", ") +
                     targetTemperatureText(*ac.targetTemperature, ac.temperatureUnit.value_or(QStringLiteral("C")));
        }
    }
    if (const auto timer = service.features().timer()) {
        state += QStringLiteral(", ") + timerShortText(*timer, service.features().now());
    }
    return titled(deviceName(*device) + QStringLiteral(" — ") + state, service.errorMessage().value_or(QString()));
}
