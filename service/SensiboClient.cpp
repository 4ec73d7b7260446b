#include "service/SensiboClient.h"

#include "model/Decoding.h"
#include "platform/Logging.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// RFC 3986's unreserved characters: the only ones a piece we insert may hold.
bool isSafePiece(const QString& piece)
{
    for (const QChar c : piece) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'-' ||
                        u == u'.' || u == u'_' || u == u'~';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::optional<QUrl> parseAddress(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"https" && scheme != u"http")) {
        return std::nullopt;
    }
    return url;
}

// A state as the cloud writes it: the fields it has, under their cloud names.
QJsonObject acStateObject(const ACState& state)
{
    QJsonObject object{{QStringLiteral("on"), state.on}};
    const auto put = [&object](const char* key, const auto& value) {
        if (value) {
            object.insert(QLatin1String(key), *value);
        }
    };
    put("mode", state.mode);
    put("fanLevel", state.fanLevel);
    put("targetTemperature", state.targetTemperature);
    put("temperatureUnit", state.temperatureUnit);
    put("swing", state.swing);
    put("horizontalSwing", state.horizontalSwing);
    put("light", state.light);
    return object;
}

// What the cloud says about a refusal: the "message" (else the "reason") of a JSON answer such as
// {"status": "failure", "reason": "...", "message": "..."}, with control and direction characters made visible as
// U+FFFD and cut to a line's length; empty when the answer says nothing readable.
QString refusalReason(const QByteArray& body)
{
    constexpr qsizetype maxLength = 200;
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    QString reason = answer.value(QStringLiteral("message")).toString().trimmed();
    if (reason.isEmpty()) {
        reason = answer.value(QStringLiteral("reason")).toString().trimmed();
    }
    for (QChar& c : reason) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) {
            c = QChar::ReplacementCharacter;
        }
    }
    return reason.size() > maxLength ? reason.left(maxLength - 1) + QChar(0x2026) : reason;
}

} // namespace

SensiboClient::SensiboClient(QNetworkAccessManager* network, QString baseURL)
    : m_transfer(network, lcCloud)
    , m_baseURL(std::move(baseURL))
{}

std::optional<QUrl> SensiboClient::deviceListAddress(const QString& apiKey) const
{
    if (!isSafePiece(apiKey)) {
        return std::nullopt;
    }
    return parseAddress(m_baseURL + QStringLiteral("/users/me/pods?apiKey=") + apiKey + QStringLiteral("&fields=") +
                        fields);
}

std::optional<QUrl> SensiboClient::stateChangeAddress(const QString& apiKey, const QString& deviceId,
                                                      ACSetting setting) const
{
    if (!isSafePiece(apiKey) || !isSafePiece(deviceId)) {
        return std::nullopt;
    }
    return parseAddress(m_baseURL + QStringLiteral("/pods/") + deviceId + QStringLiteral("/acStates/") +
                        wireName(setting) + QStringLiteral("?apiKey=") + apiKey);
}

QCoro::Task<SensiboClient::Fetched> SensiboClient::fetch(std::optional<QUrl> url, CancelToken cancel)
{
    if (!url) {
        co_return Fetched{std::nullopt, QStringLiteral("Invalid URL")};
    }
    const HttpRequest request{.url = *url, .maxAnswerSize = maxAnswerSize};
    const HttpResult answer = co_await m_transfer.send(request, cancel);

    if (answer.failed()) {
        co_return Fetched{std::nullopt, answer.error};
    }
    if (!answer.status) {
        co_return Fetched{std::nullopt, QStringLiteral("Invalid response")};
    }
    switch (*answer.status) {
    case 200:
        co_return Fetched{answer.body, {}};
    case 401:
    case 403:
        co_return Fetched{std::nullopt, QStringLiteral("Invalid API key")};
    case 429:
        co_return Fetched{std::nullopt, QStringLiteral("Rate limited — try again later")};
    default:
        co_return Fetched{std::nullopt, QStringLiteral("Server error (%1)").arg(*answer.status)};
    }
}

template <typename Outcome, typename Decode>
QCoro::Task<Outcome> SensiboClient::fetchDecoded(std::optional<QUrl> url, Decode decode, CancelToken cancel)
{
    const Fetched answer = co_await fetch(url, cancel);
    if (!answer.body) {
        co_return Outcome{std::nullopt, answer.message};
    }
    auto decoded = decode(*answer.body);
    if (!decoded.ok()) {
        m_transfer.logProblem({.url = *url}, QStringLiteral("undecodable: ") + decoded.error());
        co_return Outcome{std::nullopt, decoded.error()};
    }
    co_return Outcome{std::move(decoded.value().result), {}};
}

QCoro::Task<DeviceListOutcome> SensiboClient::listDevices(QString apiKey, CancelToken cancel)
{
    const auto url = deviceListAddress(apiKey);
    const auto decode = [this](const QByteArray& body) { return decodeDeviceListResponse(body, m_capabilities); };
    co_return co_await fetchDecoded<DeviceListOutcome>(url, decode, cancel);
}

QCoro::Task<StateChangeOutcome> SensiboClient::changeState(QString apiKey, QString deviceId, ACSetting setting,
                                                           ACValue value, CancelToken cancel)
{
    using Kind = StateChangeOutcome::Kind;
    const auto url = stateChangeAddress(apiKey, deviceId, setting);
    if (!url) {
        co_return StateChangeOutcome{.kind = Kind::NotSent};
    }
    const QJsonValue newValue = std::visit([](const auto& v) { return QJsonValue(v); }, value);
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("newValue"), newValue}}).toJson(QJsonDocument::Compact);

    // A refusal's body is read too: the command line tells why.
    const HttpRequest request{
        .method = "PATCH", .url = *url, .jsonBody = body, .maxAnswerSize = maxAnswerSize, .readEveryStatus = true};
    const HttpResult answer = co_await m_transfer.send(request, cancel);

    if (answer.failed()) {
        co_return StateChangeOutcome{.kind = Kind::Failed, .message = answer.error, .status = answer.status};
    }
    if (answer.status != 200) {
        m_transfer.logProblem(request, answer.status ? QStringLiteral("refused: status %1").arg(*answer.status)
                                                     : QStringLiteral("refused: not an HTTP answer"));
        co_return StateChangeOutcome{.kind = Kind::Failed,
                                     .message = QStringLiteral("Failed to update ") + wireName(setting),
                                     .status = answer.status,
                                     .reason = refusalReason(answer.body)};
    }
    const auto decoded = decodeACStateResponse(answer.body);
    if (!decoded.ok()) {
        // The cloud took the change but said nothing we can use; the next load shows its state.
        m_transfer.logProblem(request, QStringLiteral("undecodable: ") + decoded.error());
        co_return StateChangeOutcome{.kind = Kind::Accepted};
    }
    co_return StateChangeOutcome{.kind = Kind::Confirmed, .confirmedState = decoded.value().result.acState};
}

std::optional<QUrl> SensiboClient::podAddress(const QString& base, const QString& apiKey, const QString& deviceId,
                                              const QString& rest, const QString& query) const
{
    if (base.isEmpty() || !isSafePiece(apiKey) || !isSafePiece(deviceId)) {
        return std::nullopt;
    }
    return parseAddress(base + QStringLiteral("/pods/") + deviceId + rest + QStringLiteral("?apiKey=") + apiKey +
                        query);
}

std::optional<QUrl> SensiboClient::deviceDetailsAddress(const QString& apiKey, const QString& deviceId) const
{
    return podAddress(m_baseURL, apiKey, deviceId, {}, QStringLiteral("&fields=timer,smartMode"));
}

std::optional<QUrl> SensiboClient::timerAddress(const QString& apiKey, const QString& deviceId) const
{
    // The timer lives under version 1 of the same API.
    QString base;
    if (m_baseURL.endsWith(QLatin1String("/v2"))) {
        base = m_baseURL.chopped(1) + QLatin1Char('1');
    }
    return podAddress(base, apiKey, deviceId, QStringLiteral("/timer/"));
}

std::optional<QUrl> SensiboClient::climateReactAddress(const QString& apiKey, const QString& deviceId) const
{
    return podAddress(m_baseURL, apiKey, deviceId, QStringLiteral("/smartmode"));
}

std::optional<QUrl> SensiboClient::historyAddress(const QString& apiKey, const QString& deviceId, int days) const
{
    if (days < 1 || days > maxHistoryDays) {
        return std::nullopt;
    }
    return podAddress(m_baseURL, apiKey, deviceId, QStringLiteral("/historicalMeasurements"),
                      QStringLiteral("&days=") + QString::number(days));
}

QCoro::Task<DeviceDetailsOutcome> SensiboClient::deviceDetails(QString apiKey, QString deviceId, CancelToken cancel)
{
    const auto url = deviceDetailsAddress(apiKey, deviceId);
    co_return co_await fetchDecoded<DeviceDetailsOutcome>(url, &decodeDeviceDetailsResponse, cancel);
}

QCoro::Task<HistoryOutcome> SensiboClient::history(QString apiKey, QString deviceId, int days, CancelToken cancel)
{
    const auto url = historyAddress(apiKey, deviceId, days);
    co_return co_await fetchDecoded<HistoryOutcome>(url, &decodeHistoryResponse, cancel);
}

QCoro::Task<ExtrasChangeOutcome> SensiboClient::change(std::optional<QUrl> url, QByteArray method, QByteArray body,
                                                       QString refusal, CancelToken cancel)
{
    using Kind = ExtrasChangeOutcome::Kind;
    if (!url) {
        co_return ExtrasChangeOutcome{.kind = Kind::NotSent, .refusal = refusal};
    }
    // Every status is read, so that a 2xx other than 200 (a 204 to a DELETE) counts as done.
    const HttpRequest request{.method = std::move(method),
                              .url = *url,
                              .jsonBody = std::move(body),
                              .maxAnswerSize = maxAnswerSize,
                              .readEveryStatus = true};
    const HttpResult answer = co_await m_transfer.send(request, cancel);
    if (answer.failed()) {
        co_return ExtrasChangeOutcome{Kind::Failed, answer.error, answer.status, {}, refusal};
    }
    if (!answer.status || *answer.status < 200 || *answer.status > 299) {
        m_transfer.logProblem(request, answer.status ? QStringLiteral("refused: status %1").arg(*answer.status)
                                                     : QStringLiteral("refused: not an HTTP answer"));
        co_return ExtrasChangeOutcome{Kind::Failed, refusal, answer.status, refusalReason(answer.body), refusal};
    }
    co_return ExtrasChangeOutcome{Kind::Done, {}};
}

QCoro::Task<ExtrasChangeOutcome> SensiboClient::setTimer(QString apiKey, QString deviceId, qint64 minutesFromNow,
                                                         ACState state, CancelToken cancel)
{
    const QJsonObject body{{QStringLiteral("minutesFromNow"), minutesFromNow},
                           {QStringLiteral("acState"), acStateObject(state)}};
    return change(timerAddress(apiKey, deviceId), "PUT", QJsonDocument(body).toJson(QJsonDocument::Compact),
                  QStringLiteral("Failed to set the timer"), std::move(cancel));
}

QCoro::Task<ExtrasChangeOutcome> SensiboClient::cancelTimer(QString apiKey, QString deviceId, CancelToken cancel)
{
    return change(timerAddress(apiKey, deviceId), "DELETE", {}, QStringLiteral("Failed to cancel the timer"),
                  std::move(cancel));
}

QCoro::Task<ExtrasChangeOutcome> SensiboClient::setClimateReact(QString apiKey, QString deviceId, bool enabled,
                                                                CancelToken cancel)
{
    const QJsonObject body{{QStringLiteral("enabled"), enabled}};
    return change(climateReactAddress(apiKey, deviceId), "PUT", QJsonDocument(body).toJson(QJsonDocument::Compact),
                  enabled ? QStringLiteral("Failed to turn on Climate React")
                          : QStringLiteral("Failed to turn off Climate React"),
                  std::move(cancel));
}
