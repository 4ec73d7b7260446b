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

QCoro::Task<DeviceListOutcome> SensiboClient::listDevices(QString apiKey, CancelToken cancel)
{
    const auto url = deviceListAddress(apiKey);
    if (!url) {
        co_return DeviceListOutcome{std::nullopt, QStringLiteral("Invalid URL")};
    }
    const HttpRequest request{.url = *url, .maxAnswerSize = maxAnswerSize};
    const HttpResult answer = co_await m_transfer.send(request, cancel);

    if (answer.failed()) {
        co_return DeviceListOutcome{std::nullopt, answer.error};
    }
    if (!answer.status) {
        co_return DeviceListOutcome{std::nullopt, QStringLiteral("Invalid response")};
    }
    switch (*answer.status) {
    case 200: {
        auto decoded = decodeDeviceListResponse(answer.body);
        if (!decoded.ok()) {
            m_transfer.logProblem(request, QStringLiteral("undecodable: ") + decoded.error());
            co_return DeviceListOutcome{std::nullopt, decoded.error()};
        }
        co_return DeviceListOutcome{std::move(decoded.value().result), {}};
    }
    case 401:
    case 403:
        co_return DeviceListOutcome{std::nullopt, QStringLiteral("Invalid API key")};
    case 429:
        co_return DeviceListOutcome{std::nullopt, QStringLiteral("Rate limited — try again later")};
    default:
        co_return DeviceListOutcome{std::nullopt, QStringLiteral("Server error (%1)").arg(*answer.status)};
    }
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
