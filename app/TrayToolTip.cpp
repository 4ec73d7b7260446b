#include "app/TrayToolTip.h"

#include "model/ExtrasText.h"
#include "model/ReadingText.h"
#include "panel/DisplayNames.h"
#include "service/SensiboService.h"

QString trayToolTipBody(const SensiboService& service)
{
    if (service.apiKey().isEmpty()) {
        return QStringLiteral("No API Key Configured");
    }
    const std::optional<SensiboDevice> device = service.selectedDevice();
    if (!device) {
        if (service.errorMessage()) {
            return *service.errorMessage();
        }
        return service.isLoading() ? QStringLiteral("Loading…") : QStringLiteral("No devices found");
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
    QString body = deviceName(*device) + QStringLiteral(" — ") + state;
    if (service.errorMessage()) {
        body += QLatin1Char('\n') + *service.errorMessage(); // a refused change, shown in the panel's footer too
    }
    return body;
}
