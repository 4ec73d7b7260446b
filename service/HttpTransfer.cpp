#include "service/HttpTransfer.h"

#include "service/GzipInflate.h"

#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <coroutine>
#include <memory>

namespace {

constexpr qint64 readAheadSize = 1024 * 1024;

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

// Awaits the end of a reply and resumes within its finished signal, so that a reply aborted as its owner goes ends
// the awaiting task at once. (QCoro's own reply awaiter does the same, but lives in a library of its own, which every
// command of the command line would then load for it alone.)
struct ReplyFinished {
    QNetworkReply* reply;
    QMetaObject::Connection connection{};

    bool await_ready() const { return reply->isFinished(); }
    void await_suspend(std::coroutine_handle<> waiting)
    {
        connection = QObject::connect(reply, &QNetworkReply::finished, [this, waiting] {
            QObject::disconnect(connection);
            waiting.resume();
        });
    }
    void await_resume() const {}
};

// Why we ended a transfer ourselves.
enum class Stop { None, Cancelled, Deadline, TooLarge };

// What the handlers of one transfer share with the coroutine that awaits it; held by both, so that a handler
// running as the coroutine ends never reaches a finished frame.
struct Transfer {
    QByteArray body;
    qint64 received = 0;
    Stop stop = Stop::None;
};

// Takes the body of an answer that came whole, inflated when it came gzipped; says what went wrong, if anything.
QString readAnswer(HttpResult& result, const QNetworkReply& reply, QByteArray body, const HttpRequest& request)
{
    if (!request.readEveryStatus && result.status != 200) {
        return result.status ? QStringLiteral("refused: status %1").arg(*result.status)
                             : QStringLiteral("refused: not an HTTP answer");
    }
    if (!request.askForGzip ||
        reply.rawHeader("Content-Encoding").trimmed().compare("gzip", Qt::CaseInsensitive) != 0) {
        result.body = std::move(body);
        return {};
    }
    InflateResult inflated = inflateGzip(body, request.maxAnswerSize);
    if (inflated.ok) {
        result.body = std::move(inflated.data);
        return {};
    }
    result.failure = inflated.tooLarge ? HttpResult::Failure::TooLarge : HttpResult::Failure::Error;
    result.error = inflated.error;
    return (inflated.tooLarge ? QStringLiteral("cut off: ") : QStringLiteral("failed: ")) + inflated.error;
}

} // namespace

HttpTransfer::HttpTransfer(QNetworkAccessManager* network, QMessageLogger::CategoryFunction category)
    : m_network(network)
    , m_category(category)
{}

QCoro::Task<HttpResult> HttpTransfer::send(const HttpRequest& request, CancelToken cancel) const
{
    QNetworkRequest wire(request.url);
    if (request.askForGzip) {
        // Asking for gzip ourselves turns off Qt's own decompression; the answer is inflated as it ends.
        wire.setRawHeader("Accept-Encoding", "gzip");
    }
    if (m_timeoutMs < m_deadlineMs) {
        // A silence as long as the deadline ends at the deadline anyway; Qt's own timer, which it restarts through
        // the event queue at every part of the answer, is only worth its cost when it can end a transfer sooner.
        wire.setTransferTimeout(m_timeoutMs);
    }
    wire.setAttribute(QNetworkRequest::RedirectPolicyAttribute, request.followRedirects
                                                                    ? QNetworkRequest::NoLessSafeRedirectPolicy
                                                                    : QNetworkRequest::ManualRedirectPolicy);
    if (!request.jsonBody.isEmpty()) {
        wire.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    }
    QNetworkReply* reply = request.method == "GET" && request.jsonBody.isEmpty()
                               ? m_network->get(wire)
                               : m_network->sendCustomRequest(wire, request.method, request.jsonBody);
    return receive(reply, request, *this, std::move(cancel));
}

void HttpTransfer::logProblem(const HttpRequest& request, const QString& problem) const
{
    // The path only: the query holds the API key.
    qCDebug(m_category).noquote()
        << QStringLiteral("%1 %2: %3").arg(QString::fromLatin1(request.method), request.url.path(), problem);
}

// Awaits the reply, aborting it when the token is cancelled, when the deadline passes or when the answer grows past
// the cap, and collects the answer. The body is read as it arrives, so that it is counted while it comes. The reply
// is deleted here on every path. Works on copies, so that nothing it uses goes while it waits.
QCoro::Task<HttpResult> HttpTransfer::receive(QNetworkReply* reply, HttpRequest request, HttpTransfer self,
                                              CancelToken cancel)
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
    const auto take = [reply, transfer, maxSize = request.maxAnswerSize, end] {
        // An aborted or timed-out reply is closed: there is nothing more to take.
        if (transfer->stop != Stop::None || !reply->isOpen()) {
            return;
        }
        transfer->received = transfer->body.size() + reply->bytesAvailable();
        if (transfer->received > maxSize) {
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
    deadline->start(self.m_deadlineMs);
    if (cancel.isCancelled()) {
        end(Stop::Cancelled);
    }
    co_await ReplyFinished{reply};
    take(); // whatever came with the end
    QObject::disconnect(onCancel);
    deadline->stop();

    using Failure = HttpResult::Failure;
    HttpResult result;
    result.received = transfer->received;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        result.status = status.toInt();
    }
    const auto error = reply->error();
    QString problem;
    if (transfer->stop == Stop::TooLarge) {
        result.failure = Failure::TooLarge;
        result.error =
            QStringLiteral("The answer is too large: more than %1 MiB.").arg(request.maxAnswerSize / (1024 * 1024));
        problem = QStringLiteral("cut off: ") + result.error;
    } else if (transfer->stop == Stop::Deadline) {
        result.failure = Failure::TimedOut;
        problem = QStringLiteral("timed out: not done within %1 ms").arg(self.m_deadlineMs);
    } else if (error == QNetworkReply::OperationCanceledError && transfer->stop == Stop::Cancelled) {
        result.failure = Failure::Cancelled;
        result.error = reply->errorString();
        problem = QStringLiteral("cancelled");
    } else if (error == QNetworkReply::OperationCanceledError) {
        // Qt ends its transfer timeout as "Operation canceled", like a cancel: a user must not read that.
        result.failure = Failure::TimedOut;
        problem = QStringLiteral("timed out: silent for %1 ms").arg(self.m_timeoutMs);
    } else if (error != QNetworkReply::NoError && !(result.status && isStatusError(error))) {
        result.failure = Failure::Error;
        result.error = reply->errorString();
        // Qt's name of the error, not its text: the text of some errors holds the whole address.
        problem = QStringLiteral("failed: ") +
                  QLatin1String(QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(error));
    } else {
        problem = readAnswer(result, *reply, std::move(transfer->body), request);
    }
    if (result.failure == Failure::TimedOut) {
        result.error = QStringLiteral("The request timed out.");
    }
    if (!problem.isEmpty()) {
        self.logProblem(request, problem);
    }
    reply->deleteLater();
    co_return result;
}
