#pragma once

#include "model/ACSetting.h"
#include "model/Records.h"
#include "platform/CancelToken.h"
#include "service/HttpTransfer.h"

#include <QCoroTask>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

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

    QCoro::Task<DeviceListOutcome> listDevices(QString apiKey, CancelToken cancel = {});
    QCoro::Task<StateChangeOutcome> changeState(QString apiKey, QString deviceId, ACSetting setting, ACValue value,
                                                CancelToken cancel = {});

private:
    HttpTransfer m_transfer;
    QString m_baseURL;
};
