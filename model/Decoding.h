#pragma once

#include "model/Records.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>
#include <utility>

// The outcome of decoding an answer: the record, or a description that names where and what went wrong, for
// example "result[0].acState.targetTemperature: expected an integer, found 22.5". Users read these descriptions.
template <typename T> class Decoded
{
public:
    static Decoded success(T value) { return Decoded(std::move(value), {}); }
    static Decoded failure(QString description) { return Decoded(std::nullopt, std::move(description)); }

    bool ok() const { return m_value.has_value(); }
    const T& value() const { return *m_value; }
    T& value() { return *m_value; }
    const QString& error() const { return m_error; }

private:
    Decoded(std::optional<T> value, QString error)
        : m_value(std::move(value))
        , m_error(std::move(error))
    {}

    std::optional<T> m_value;
    QString m_error;
};

using DeviceListResponse = SensiboResponse<QList<SensiboDevice>>;
using ACStateResponse = SensiboResponse<ACStateResult>;
using DeviceDetailsResponse = SensiboResponse<DeviceDetails>;
using HistoryResponse = SensiboResponse<MeasurementHistory>;

// Strict decoding of an answer's body: a missing or null required field, a value of the wrong JSON type (optional
// field or not; a number with a fraction where an integer belongs) fails the whole answer; a missing or null
// optional field is absent; keys Kelvo does not know are ignored; real fields accept integers.
Decoded<DeviceListResponse> decodeDeviceListResponse(const QByteArray& body);

// Capability blocks read before, by their text. Devices of one model describe their remote alike, byte for byte, in
// one answer and from one answer to the next: a block met again is not decoded again, and the devices of every
// answer share its record. Holds the blocks of the last list that decoded, and no more than 256 KiB of their text.
class CapabilityMemo
{
public:
    qsizetype size() const { return m_blocks.size(); }

private:
    // The same, taking the capability blocks it has read before from `memo` and leaving this answer's there when it
    // decodes (a failed answer leaves the memo as it was).
    friend Decoded<DeviceListResponse> decodeDeviceListResponse(const QByteArray& body, CapabilityMemo& memo);

    QHash<QByteArray, RemoteCapabilities> m_blocks;
};

Decoded<DeviceListResponse> decodeDeviceListResponse(const QByteArray& body, CapabilityMemo& memo);
Decoded<ACStateResponse> decodeACStateResponse(const QByteArray& body);
// The details of one device and a room's history. Their parts are Tolerant: one that does not fit is marked
// unreadable instead of failing the answer.
Decoded<DeviceDetailsResponse> decodeDeviceDetailsResponse(const QByteArray& body);
Decoded<HistoryResponse> decodeHistoryResponse(const QByteArray& body);
