#include "model/Decoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QLatin1String>
#include <QVarLengthArray>

#include <limits>
#include <map>
#include <optional>

namespace {

// Where a value sits in the answer, as a chain of links that live on the decoder's stack. Nothing is formatted
// until a description is needed, so a good answer never pays for the text of its paths.
class Path {
public:
    Path() = default; // the top level

    Path key(const char* name) const { return Path(this, name, -1, nullptr); }
    Path index(qsizetype index) const { return Path(this, nullptr, index, nullptr); }
    Path mapKey(const QString& key) const { return Path(this, nullptr, -1, &key); }

    // Reads like the code that would reach the value: result[0].remoteCapabilities.modes.cool
    QString toString() const {
        QVarLengthArray<const Path*, 16> links;
        for (const Path* link = this; link->m_parent != nullptr; link = link->m_parent) {
            links.append(link);
        }
        QString text;
        for (auto it = links.crbegin(); it != links.crend(); ++it) {
            const Path& link = **it;
            if (link.m_key != nullptr) {
                appendName(text, QString::fromLatin1(link.m_key));
            } else if (link.m_mapKey != nullptr) {
                appendName(text, *link.m_mapKey);
            } else {
                text += u'[' + QString::number(link.m_index) + u']';
            }
        }
        return text;
    }

private:
    Path(const Path* parent, const char* key, qsizetype index, const QString* mapKey)
        : m_parent(parent)
        , m_key(key)
        , m_index(index)
        , m_mapKey(mapKey) {}

    static bool isIdentifier(const QString& name) {
        if (name.isEmpty() || name.front().isDigit()) {
            return false;
        }
        for (const QChar c : name) {
            const char16_t u = c.unicode();
            const bool ok =
                (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'_';
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    // Names that would read badly after a dot (a map key like "" or "cool mode") go in brackets instead.
    static void appendName(QString& text, const QString& name) {
        if (!isIdentifier(name)) {
            text += u"[\"";
            text += name;
            text += u"\"]";
            return;
        }
        if (!text.isEmpty()) {
            text += u'.';
        }
        text += name;
    }

    const Path* m_parent = nullptr;
    const char* m_key = nullptr;       // a record's field
    qsizetype m_index = -1;            // a list's element
    const QString* m_mapKey = nullptr; // a map's entry
};

// The number as JSON writes it: integers in full, fractions at their shortest.
QString numberText(const QJsonValue& number) {
    const qint64 integer = number.toInteger();
    const double real = number.toDouble();
    if (static_cast<double>(integer) == real) {
        return QString::number(integer);
    }
    return QString::number(real, 'g', QLocale::FloatingPointShortest);
}

// A string as it would appear in the answer, cut short when long: "heat", "a very long te…"
QString quotedText(const QString& text) {
    constexpr qsizetype shownChars = 40;
    QString shown = text;
    bool cut = false;
    if (shown.size() > shownChars) {
        qsizetype keep = shownChars;
        if (shown.at(keep - 1).isHighSurrogate()) {
            --keep;
        }
        shown.truncate(keep);
        cut = true;
    }
    QString quoted = QStringLiteral("\"");
    for (const QChar c : shown) {
        switch (c.unicode()) {
        case u'"':
            quoted += u"\\\"";
            break;
        case u'\\':
            quoted += u"\\\\";
            break;
        case u'\n':
            quoted += u"\\n";
            break;
        case u'\r':
            quoted += u"\\r";
            break;
        case u'\t':
            quoted += u"\\t";
            break;
        default:
            if (c.unicode() < 0x20) {
                quoted += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            } else {
                quoted += c;
            }
        }
    }
    if (cut) {
        quoted += u'…';
    }
    quoted += u'"';
    return quoted;
}

// What was found instead of the expected value, in words a user can match against the answer.
QString describe(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return numberText(value);
    case QJsonValue::String:
        return quotedText(value.toString());
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

// JSON numbers with no fraction that fit in 64 bits: 22 and 22.0 alike, but neither 22.5 nor 1e19.
bool toInteger(QJsonValueConstRef value, qint64& out) {
    if (!value.isDouble()) {
        return false;
    }
    constexpr qint64 notWhole = std::numeric_limits<qint64>::min();
    const qint64 integer = value.toInteger(notWhole);
    if (integer == notWhole && value.toDouble() != static_cast<double>(notWhole)) {
        return false;
    }
    out = integer;
    return true;
}

// The records of Records.h, each of which names its JSON keys.
template <typename T>
concept Record = requires {
    typename T::CodingKeys;
};

// Reads through QJsonValueConstRef, which points into the parsed document without copying or counting references.
class Decoder {
public:
    const QString& error() const { return m_error; }

    bool read(QJsonValueConstRef json, const Path& path, QString& out) {
        if (!json.isString()) {
            return mismatch(path, "a string", json);
        }
        out = json.toString();
        return true;
    }

    bool read(QJsonValueConstRef json, const Path& path, bool& out) {
        if (!json.isBool()) {
            return mismatch(path, "true or false", json);
        }
        out = json.toBool();
        return true;
    }

    bool read(QJsonValueConstRef json, const Path& path, qint64& out) {
        if (!toInteger(json, out)) {
            return mismatch(path, "an integer", json);
        }
        return true;
    }

    bool read(QJsonValueConstRef json, const Path& path, double& out) {
        if (!json.isDouble()) {
            return mismatch(path, "a number", json);
        }
        out = json.toDouble();
        return true;
    }

    template <typename T> bool read(QJsonValueConstRef json, const Path& path, QList<T>& out) {
        if (!json.isArray()) {
            return mismatch(path, "an array", json);
        }
        const QJsonArray array = json.toArray();
        out.clear();
        out.reserve(array.size());
        qsizetype index = 0;
        for (auto it = array.constBegin(), end = array.constEnd(); it != end; ++it, ++index) {
            if (!read(*it, path.index(index), out.emplaceBack())) {
                return false;
            }
        }
        return true;
    }

    template <typename T> bool read(QJsonValueConstRef json, const Path& path, QMap<QString, T>& out) {
        if (!json.isObject()) {
            return mismatch(path, "an object", json);
        }
        const QJsonObject object = json.toObject();
        std::map<QString, T> entries;
        for (auto it = object.constBegin(), end = object.constEnd(); it != end; ++it) {
            QString key = it.key();
            T value;
            if (!read(*it, path.mapKey(key), value)) {
                return false;
            }
            entries.insert_or_assign(entries.end(), std::move(key), std::move(value));
        }
        out = QMap<QString, T>(std::move(entries));
        return true;
    }

    template <Record R> bool read(QJsonValueConstRef json, const Path& path, R& out) {
        if (!json.isObject()) {
            return mismatch(path, "an object", json);
        }
        return readFields(json.toObject(), path, out);
    }

    bool readFields(const QJsonObject& object, const Path& path, RoomInfo& out) {
        using Key = RoomInfo::CodingKeys;
        const Fields<RoomInfo> fields(*this, object, path);
        return fields.required(Key::name, out.name) && fields.optional(Key::icon, out.icon);
    }

    bool readFields(const QJsonObject& object, const Path& path, ACState& out) {
        using Key = ACState::CodingKeys;
        const Fields<ACState> fields(*this, object, path);
        return fields.required(Key::on, out.on) && fields.optional(Key::mode, out.mode) &&
               fields.optional(Key::fanLevel, out.fanLevel) &&
               fields.optional(Key::targetTemperature, out.targetTemperature) &&
               fields.optional(Key::temperatureUnit, out.temperatureUnit) && fields.optional(Key::swing, out.swing) &&
               fields.optional(Key::horizontalSwing, out.horizontalSwing) && fields.optional(Key::light, out.light);
    }

    bool readFields(const QJsonObject& object, const Path& path, MeasurementTime& out) {
        using Key = MeasurementTime::CodingKeys;
        const Fields<MeasurementTime> fields(*this, object, path);
        return fields.optional(Key::secondsAgo, out.secondsAgo) && fields.optional(Key::time, out.time);
    }

    bool readFields(const QJsonObject& object, const Path& path, SensiboMeasurement& out) {
        using Key = SensiboMeasurement::CodingKeys;
        const Fields<SensiboMeasurement> fields(*this, object, path);
        return fields.optional(Key::temperature, out.temperature) && fields.optional(Key::humidity, out.humidity) &&
               fields.optional(Key::time, out.time);
    }

    bool readFields(const QJsonObject& object, const Path& path, ConnectionStatus& out) {
        using Key = ConnectionStatus::CodingKeys;
        const Fields<ConnectionStatus> fields(*this, object, path);
        return fields.optional(Key::isAlive, out.isAlive) && fields.optional(Key::lastSeen, out.lastSeen);
    }

    bool readFields(const QJsonObject& object, const Path& path, TemperatureRange& out) {
        using Key = TemperatureRange::CodingKeys;
        const Fields<TemperatureRange> fields(*this, object, path);
        return fields.optional(Key::isNative, out.isNative) && fields.optional(Key::values, out.values);
    }

    bool readFields(const QJsonObject& object, const Path& path, ModeCapabilities& out) {
        using Key = ModeCapabilities::CodingKeys;
        const Fields<ModeCapabilities> fields(*this, object, path);
        return fields.optional(Key::temperatures, out.temperatures) && fields.optional(Key::fanLevels, out.fanLevels) &&
               fields.optional(Key::swing, out.swing) && fields.optional(Key::horizontalSwing, out.horizontalSwing) &&
               fields.optional(Key::light, out.light);
    }

    bool readFields(const QJsonObject& object, const Path& path, RemoteCapabilities& out) {
        using Key = RemoteCapabilities::CodingKeys;
        const Fields<RemoteCapabilities> fields(*this, object, path);
        return fields.optional(Key::modes, out.modes);
    }

    bool readFields(const QJsonObject& object, const Path& path, SensiboDevice& out) {
        using Key = SensiboDevice::CodingKeys;
        const Fields<SensiboDevice> fields(*this, object, path);
        return fields.required(Key::id, out.id) && fields.optional(Key::room, out.room) &&
               fields.optional(Key::acState, out.acState) && fields.optional(Key::measurements, out.measurements) &&
               fields.optional(Key::connectionStatus, out.connectionStatus) &&
               fields.optional(Key::remoteCapabilities, out.remoteCapabilities);
    }

    bool readFields(const QJsonObject& object, const Path& path, ACStateResult& out) {
        using Key = ACStateResult::CodingKeys;
        const Fields<ACStateResult> fields(*this, object, path);
        return fields.required(Key::acState, out.acState);
    }

    template <typename Payload>
    bool readFields(const QJsonObject& object, const Path& path, SensiboResponse<Payload>& out) {
        using Key = typename SensiboResponse<Payload>::CodingKeys;
        const Fields<SensiboResponse<Payload>> fields(*this, object, path);
        return fields.required(Key::status, out.status) && fields.required(Key::result, out.result);
    }

private:
    // One record's JSON object, read field by field under the names in the record's key table.
    template <typename R> class Fields {
    public:
        using Key = typename R::CodingKeys;

        Fields(Decoder& decoder, const QJsonObject& object, const Path& path)
            : m_decoder(decoder)
            , m_object(object)
            , m_path(path) {}

        template <typename T> bool required(Key key, T& out) const {
            const char* name = codingKey<R>(key);
            const auto found = m_object.constFind(QLatin1String(name));
            if (found == m_object.constEnd()) {
                return m_decoder.fail(m_path.key(name), QStringLiteral("required key is missing"));
            }
            return m_decoder.read(*found, m_path.key(name), out);
        }

        template <typename T> bool optional(Key key, std::optional<T>& out) const {
            const char* name = codingKey<R>(key);
            const auto found = m_object.constFind(QLatin1String(name));
            if (found == m_object.constEnd() || (*found).isNull()) {
                out.reset();
                return true;
            }
            return m_decoder.read(*found, m_path.key(name), out.emplace());
        }

    private:
        Decoder& m_decoder;
        const QJsonObject& m_object;
        const Path& m_path;
    };

    bool fail(const Path& path, const QString& what) {
        m_error = path.toString();
        m_error += u": ";
        m_error += what;
        return false;
    }

    bool mismatch(const Path& path, const char* expected, QJsonValueConstRef found) {
        return fail(path, QStringLiteral("expected %1, found %2").arg(QLatin1String(expected), describe(found)));
    }

    QString m_error;
};

bool isBlank(const QByteArray& body) {
    for (const char c : body) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
    }
    return true;
}

template <typename Payload> Decoded<SensiboResponse<Payload>> decodeAnswer(const QByteArray& body) {
    using Result = Decoded<SensiboResponse<Payload>>;
    if (isBlank(body)) {
        return Result::failure(QStringLiteral("The answer is empty, expected a JSON object"));
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return Result::failure(QStringLiteral("The answer is not valid JSON: %1 at offset %2")
                                   .arg(parseError.errorString())
                                   .arg(parseError.offset));
    }
    if (!document.isObject()) {
        const QString found = document.isArray() ? QStringLiteral("an array") : QStringLiteral("nothing");
        return Result::failure(QStringLiteral("expected a JSON object at the top level, found %1").arg(found));
    }
    Decoder decoder;
    SensiboResponse<Payload> response;
    const QJsonObject top = document.object();
    if (!decoder.readFields(top, Path(), response)) {
        return Result::failure(decoder.error());
    }
    return Result::success(std::move(response));
}

} // namespace

Decoded<DeviceListResponse> decodeDeviceListResponse(const QByteArray& body) {
    return decodeAnswer<QList<SensiboDevice>>(body);
}

Decoded<ACStateResponse> decodeACStateResponse(const QByteArray& body) {
    return decodeAnswer<ACStateResult>(body);
}
