#include "service/SensiboClient.h"

#include "model/Decoding.h"
#include "service/GzipInflate.h"

#include <QCoroNetworkReply>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <memory>

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

QNetworkRequest makeRequest(const QUrl& url, int timeoutMs)
{
    QNetworkRequest request(url);
    // Asking for gzip ourselves turns off Qt's own decompression; the answer is inflated below.
    request.setRawHeader("Accept-Encoding", "gzip");
    request.setTransferTimeout(timeoutMs);
    // A redirect would carry the API key in its query to wherever it points; the cloud never redirects.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return request;
}

// What came back for one request, reduced to what the classification needs.
struct Answer {
    bool transferFailed = false;
    QString transferError;     // with transferFailed
    std::optional<int> status; // absent when the answer was not HTTP
    QByteArray body;           // read only for status 200
};

// Qt reports HTTP error statuses as errors too (400 as an invalid operation, 404 as content not found, 407 as a
// proxy asking for credentials, 5xx as server errors); with a status line received, those are answers to classify,
// not failed transfers.
bool isStatusError(QNetworkReply::NetworkError error)
{
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
           error == QNetworkReply::ProtocolInvalidOperationError ||
           error == QNetworkReply::ProxyAuthenticationRequiredError ||
           (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}

constexpr qint64 readAheadSize = 1024 * 1024;

// Why we ended a transfer ourselves.
enum class Stop { None, Cancelled, Deadline, TooLarge };

// What the handlers of one transfer share with the coroutine that awaits it; held by both, so that a handler
// running as the coroutine ends never reaches a finished frame.
struct Transfer {
    QByteArray body;
    Stop stop = Stop::None;
};

// Awaits the reply, aborting it when the token is cancelled, when the deadline passes or when the answer grows past
// the cap, and collects the answer. The body is read as it arrives, so that it is counted while it comes. The reply
// is deleted here on every path.
QCoro::Task<Answer> receive(QNetworkReply* reply, CancelToken cancel, int deadlineMs, qsizetype maxSize)
{
    // Qt reads the answer in a thread of its own; a bounded buffer makes it wait for us to take each part, so that
    // nothing piles up beyond the cap while the main thread is busy.
    reply->setReadBufferSize(readAheadSize);
    auto transfer = std::make_shared<Transfer>();
    const auto end = [reply, transfer](Stop why) {
        if (transfer->stop == Stop::None) {
            transfer->stop = why;
        }
        reply->abort();
    };
    const auto take = [reply, transfer, maxSize, end] {
        if (transfer->stop != Stop::None) {
            return;
        }
        if (transfer->body.size() + reply->bytesAvailable() > maxSize) {
            end(Stop::TooLarge);
            return;
        }
        transfer->body += reply->readAll();
    };
    const auto onCancel =
        QObject::connect(cancel.state(), &CancelState::cancelled, reply, [end] { end(Stop::Cancelled); });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, take);
    // Owned by the reply, so that it goes with it whichever ends first.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [end] { end(Stop::Deadline); });
    deadline->start(deadlineMs);
    if (cancel.isCancelled()) {
        end(Stop::Cancelled);
    }
    if (!reply->isFinished()) {
        co_await reply;
    }
    take(); // whatever came with the end
    QObject::disconnect(onCancel);
    deadline->stop();

    Answer answer;
    const auto error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (transfer->stop == Stop::TooLarge) {
        answer.transferFailed = true;
        answer.transferError =
            QStringLiteral("The answer is too large: more than %1 MiB.").arg(maxSize / (1024 * 1024));
    } else if (transfer->stop == Stop::Deadline) {
        answer.transferFailed = true;
        answer.transferError = QStringLiteral("The request timed out.");
    } else if (error != QNetworkReply::NoError && !(status.isValid() && isStatusError(error))) {
        answer.transferFailed = true;
        // Qt ends both a cancel and the transfer timeout as "Operation canceled"; only ours is a cancel.
        answer.transferError = (error == QNetworkReply::OperationCanceledError && transfer->stop != Stop::Cancelled)
                                   ? QStringLiteral("The request timed out.")
                                   : reply->errorString();
    } else {
        if (status.isValid()) {
            answer.status = status.toInt();
        }
        if (answer.status == 200) {
            answer.body = std::move(transfer->body);
            if (reply->rawHeader("Content-Encoding").trimmed().compare("gzip", Qt::CaseInsensitive) == 0) {
                InflateResult inflated = inflateGzip(answer.body, maxSize);
                if (!inflated.ok) {
                    answer.transferFailed = true;
                    answer.transferError = inflated.error;
                }
                answer.body = std::move(inflated.data);
            }
        }
    }
    reply->deleteLater();
    co_return answer;
}

} // namespace

SensiboClient::SensiboClient(QNetworkAccessManager* network, QString baseURL)
    : m_network(network)
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
    const Answer answer =
        co_await receive(m_network->get(makeRequest(*url, m_timeoutMs)), cancel, m_deadlineMs, maxAnswerSize);

    if (answer.transferFailed) {
        co_return DeviceListOutcome{std::nullopt, answer.transferError};
    }
    if (!answer.status) {
        co_return DeviceListOutcome{std::nullopt, QStringLiteral("Invalid response")};
    }
    switch (*answer.status) {
    case 200: {
        auto decoded = decodeDeviceListResponse(answer.body);
        if (!decoded.ok()) {
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
        co_return StateChangeOutcome{Kind::NotSent, {}, {}};
    }
    const QJsonValue newValue = std::visit([](const auto& v) { return QJsonValue(v); }, value);
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("newValue"), newValue}}).toJson(QJsonDocument::Compact);

    QNetworkRequest request = makeRequest(*url, m_timeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    const Answer answer =
        co_await receive(m_network->sendCustomRequest(request, "PATCH", body), cancel, m_deadlineMs, maxAnswerSize);

    if (answer.transferFailed) {
        co_return StateChangeOutcome{Kind::Failed, {}, answer.transferError};
    }
    if (answer.status != 200) {
        co_return StateChangeOutcome{Kind::Failed, {}, QStringLiteral("Failed to update ") + wireName(setting)};
    }
    const auto decoded = decodeACStateResponse(answer.body);
    if (!decoded.ok()) {
        // The cloud took the change but said nothing we can use; the next load shows its state.
        co_return StateChangeOutcome{Kind::Accepted, {}, {}};
    }
    co_return StateChangeOutcome{Kind::Confirmed, decoded.value().result.acState, {}};
}
