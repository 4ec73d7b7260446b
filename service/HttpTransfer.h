#pragma once

#include "platform/CancelToken.h"

#include <QByteArray>
#include <QCoroTask>
#include <QLoggingCategory>
#include <QString>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// One request as HttpTransfer sends it; written with designated initializers, e.g. {.method = "PATCH", .url = ...}.
struct HttpRequest {
    QByteArray method = "GET"; // GET, PUT, PATCH, DELETE...
    QUrl url{};
    QByteArray jsonBody{}; // sent with Content-Type: application/json when not empty
    // The most the answer may carry as it comes over the wire; a gzip answer is held to it again once inflated.
    qsizetype maxAnswerSize = 32 * 1024 * 1024;
    // Only a 200 answer's body is read unless every status's is wanted; any other status is a refusal, logged and
    // handed back without its body.
    bool readEveryStatus = false;
    // Redirects are refused: the cloud's addresses carry the API key in their query, and a redirect would take it
    // wherever it points. Only a request without a secret may follow them (never from https to http).
    bool followRedirects = false;
    // Asks for gzip itself and inflates the answer under the cap. Without it the request carries no header of ours:
    // Qt offers its own encodings and inflates the answer before it is read (and counted against the cap).
    bool askForGzip = true;
};

// How a transfer ended.
struct HttpResult {
    enum class Failure {
        None,      // an HTTP answer came whole
        Cancelled, // through the CancelToken
        TimedOut,  // silent for too long, or not done by the deadline
        TooLarge,  // cut off at the size cap, as it came or once inflated
        Error,     // anything else: no connection, reset, a damaged gzip body...
    };
    Failure failure = Failure::None;
    QString error;             // the text users read, with a failure
    std::optional<int> status; // the answer's status when one came (also when the body was cut off)
    QByteArray body;           // inflated; only of a status the request reads
    qint64 received = 0;       // bytes of the body that had come off the wire, also of one cut off at the cap

    bool failed() const { return failure != Failure::None; }
};

// The one path of every HTTP request Kelvo makes: it sets the request up (Accept-Encoding exactly "gzip", redirects
// refused, a bounded read-ahead), ends it on a silence timeout, an overall deadline, the size cap while reading or
// the CancelToken, inflates gzip, tells a status answer from a failed transfer, writes the transfer error texts,
// and deletes every reply on every path. Every failure, refusal and cut leaves one debug line in the category it is
// given: the method and the path, never the query, where the API key travels.
class HttpTransfer
{
public:
    static constexpr int defaultTimeoutMs = 60'000;  // the longest silence during a transfer
    static constexpr int defaultDeadlineMs = 60'000; // the longest a whole request may take, however it trickles in

    // `network` is shared and must outlive every transfer.
    HttpTransfer(QNetworkAccessManager* network, QMessageLogger::CategoryFunction category);

    // For tests: how long a transfer may stay silent, and how long a whole request may take.
    void setTimeout(int ms) { m_timeoutMs = ms; }
    void setDeadline(int ms) { m_deadlineMs = ms; }

    // Sends the request and awaits its end. The transfer takes what it needs: this object may go meanwhile.
    QCoro::Task<HttpResult> send(const HttpRequest& request, CancelToken cancel = {}) const;

    // One debug line about a request, in the same form as the transfer's own: for the caller's verdict on an answer
    // (one it cannot decode, say).
    void logProblem(const HttpRequest& request, const QString& problem) const;

private:
    static QCoro::Task<HttpResult> receive(QNetworkReply* reply, HttpRequest request, HttpTransfer self,
                                           CancelToken cancel);

    QNetworkAccessManager* m_network;
    QMessageLogger::CategoryFunction m_category;
    int m_timeoutMs = defaultTimeoutMs;
    int m_deadlineMs = defaultDeadlineMs;
};
