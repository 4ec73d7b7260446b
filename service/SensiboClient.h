#pragma once

#include "model/ACSetting.h"
#include "model/Decoding.h"
#include "model/Records.h"
#include "platform/CancelToken.h"
#include "service/HttpTransfer.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

class QByteArray;
template <typename T> class Decoded;

class QNetworkAccessManager;

struct DeviceListOutcome {
    std::optional<QList<SensiboDevice>> devices; // set on success, possibly empty
    QString message;                             // the user-facing failure text otherwise

    bool ok() const { return devices.has_value(); }
};

struct StateChangeOutcome {
    enum class Kind {
        NotSent,   // the address did not parse; nothing went on the wire
        Confirmed, // the cloud answered 200 with the new state
        Accepted,  // 200, but the answer carried no usable state
        Failed,
    };
    Kind kind = Kind::NotSent;
    ACState confirmedState{};    // with Confirmed
    QString message{};           // with Failed: the panel's text, "Failed to update <property>", or the transfer's
    std::optional<int> status{}; // with Failed: the status the cloud refused with, when it answered
    QString reason{};            // ... and what its answer says about why, when it says anything
};

struct DeviceDetailsOutcome {
    std::optional<DeviceDetails> details; // set on success: the timer and Climate React, each possibly unreadable
    QString message;                      // the user-facing failure text otherwise, worded as for the device list

    bool ok() const { return details.has_value(); }
};

struct HistoryOutcome {
    std::optional<MeasurementHistory> history; // set on success
    QString message;                           // the user-facing failure text otherwise, worded as for the device list

    bool ok() const { return history.has_value(); }
};

// The outcome of setting or cancelling a timer, or switching Climate React.
struct ExtrasChangeOutcome {
    enum class Kind {
        NotSent, // the address did not parse; nothing went on the wire
        Done,    // the cloud answered with a 2xx status
        Failed,
    };
    Kind kind = Kind::NotSent;
    QString message{};           // with Failed: the transfer's error, or the refusal ("Failed to set the timer")
    std::optional<int> status{}; // with Failed: the status the cloud refused with, when it answered
    QString reason{};            // ... and what its answer says about why, when it says anything
    QString refusal{};           // unless Done: the refusal's text, whatever went wrong, for a caller that adds why
};

// Speaks to the Sensibo cloud: the device-list request and the state-change request, each classified into an
// outcome with the texts users read. Addresses are built by concatenation; the API key, device id and property go
// in as they are, and any character outside A–Z a–z 0–9 - . _ ~ in them makes the address refuse to parse, so that
// nothing a user pastes can add, cut or alter a part of the request.
class SensiboClient
{
public:
    // The most an answer may carry, as it comes over the wire; a gzip answer is held to it again once inflated.
    static constexpr qsizetype maxAnswerSize = 32 * 1024 * 1024;
    static inline const QString fields =
        QStringLiteral("id,room,acState,measurements,connectionStatus,remoteCapabilities");

    SensiboClient(QNetworkAccessManager* network, QString baseURL);

    const QString& baseURL() const { return m_baseURL; }
    // For tests: how long a transfer may stay silent, and how long a whole request may take.
    void setTimeout(int ms) { m_transfer.setTimeout(ms); }
    void setDeadline(int ms) { m_transfer.setDeadline(ms); }

    // The assembled addresses, or nothing when they do not parse.
    std::optional<QUrl> deviceListAddress(const QString& apiKey) const;
    std::optional<QUrl> stateChangeAddress(const QString& apiKey, const QString& deviceId, ACSetting setting) const;

    // The details of one device: GET {v2}/pods/<id>?apiKey=<key>&fields=timer,smartMode.
    std::optional<QUrl> deviceDetailsAddress(const QString& apiKey, const QString& deviceId) const;
    // A device's timer, set with PUT and cancelled with DELETE: {v1}/pods/<id>/timer/?apiKey=<key>, where {v1} is the
    // base address with its last segment "v2" made "v1" (nothing when it does not end in "/v2").
    std::optional<QUrl> timerAddress(const QString& apiKey, const QString& deviceId) const;
    // Climate React on or off: PUT {v2}/pods/<id>/smartmode?apiKey=<key>.
    std::optional<QUrl> climateReactAddress(const QString& apiKey, const QString& deviceId) const;
    // A room's readings: GET {v2}/pods/<id>/historicalMeasurements?apiKey=<key>&days=<days>, for 1 to 7 days.
    std::optional<QUrl> historyAddress(const QString& apiKey, const QString& deviceId, int days) const;

    QCoro::Task<DeviceListOutcome> listDevices(QString apiKey, CancelToken cancel = {});
    QCoro::Task<StateChangeOutcome> changeState(QString apiKey, QString deviceId, ACSetting setting, ACValue value,
                                                CancelToken cancel = {});

    // The reads below fail with the device list's texts ("Invalid URL", "Invalid API key", "Server error (500)"...).
    QCoro::Task<DeviceDetailsOutcome> deviceDetails(QString apiKey, QString deviceId, CancelToken cancel = {});
    QCoro::Task<HistoryOutcome> history(QString apiKey, QString deviceId, int days = 1, CancelToken cancel = {});

    // Sets a timer that applies `state` in `minutesFromNow` minutes: PUT with {"minutesFromNow": N, "acState":
    // {...}}, the state's fields as the cloud names them. A refusal reads "Failed to set the timer".
    QCoro::Task<ExtrasChangeOutcome> setTimer(QString apiKey, QString deviceId, qint64 minutesFromNow, ACState state,
                                              CancelToken cancel = {});
    // A refusal reads "Failed to cancel the timer".
    QCoro::Task<ExtrasChangeOutcome> cancelTimer(QString apiKey, QString deviceId, CancelToken cancel = {});
    // PUT with {"enabled": true|false}. A refusal reads "Failed to turn on Climate React" ("off" when switching off).
    QCoro::Task<ExtrasChangeOutcome> setClimateReact(QString apiKey, QString deviceId, bool enabled,
                                                     CancelToken cancel = {});

    // The most days of readings the cloud gives in one history.
    static constexpr int maxHistoryDays = 7;

private:
    // A read's answer: the body of a 200 answer, or the failure's text.
    struct Fetched {
        std::optional<QByteArray> body;
        QString message;
    };

    QCoro::Task<Fetched> fetch(std::optional<QUrl> url, CancelToken cancel);
    // A read whose answer `decode` turns into the outcome's value; a failed read or an answer it cannot read gives
    // the outcome that message instead.
    template <typename Outcome, typename Decode>
    QCoro::Task<Outcome> fetchDecoded(std::optional<QUrl> url, Decode decode, CancelToken cancel);
    QCoro::Task<ExtrasChangeOutcome> change(std::optional<QUrl> url, QByteArray method, QByteArray body,
                                            QString refusal, CancelToken cancel);
    std::optional<QUrl> podAddress(const QString& base, const QString& apiKey, const QString& deviceId,
                                   const QString& rest, const QString& query = {}) const;

    HttpTransfer m_transfer;
    QString m_baseURL;
    CapabilityMemo m_capabilities; // of the last device list: each refresh decodes only the blocks it has not met
};
