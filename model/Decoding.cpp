#include "model/Decoding.h"

#include "model/JsonReader.h"

#include <QLatin1String>
#include <QLocale>
#include <QVarLengthArray>

#include <array>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

namespace {

// Where a value sits in the answer, as a chain of links that live on the decoder's stack. Nothing is formatted
// until a description is needed, so a good answer never pays for the text of its paths.
class Path
{
public:
    Path() = default; // the top level

    Path key(const char* name) const { return Path(this, name, -1, nullptr); }
    Path index(qsizetype index) const { return Path(this, nullptr, index, nullptr); }
    Path mapKey(const QString& key) const { return Path(this, nullptr, -1, &key); }

    // Reads like the code that would reach the value: result[0].remoteCapabilities.modes.cool
    QString toString() const
    {
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
        , m_mapKey(mapKey)
    {}

    static bool isIdentifier(const QString& name)
    {
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
    static void appendName(QString& text, const QString& name)
    {
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
QString numberText(const JsonReader::Number& number)
{
    if (number.integer) {
        return QString::number(*number.integer);
    }
    return QString::number(number.real, 'g', QLocale::FloatingPointShortest);
}

// A string as it would appear in the answer, cut short when long: "heat", "a very long te…"
QString quotedText(const QString& text)
{
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

// The fields of each record, in the order of its CodingKeys.
constexpr auto fieldsOf(std::type_identity<RoomInfo>)
{
    return std::tuple(&RoomInfo::name, &RoomInfo::icon);
}

constexpr auto fieldsOf(std::type_identity<ACState>)
{
    return std::tuple(&ACState::on, &ACState::mode, &ACState::fanLevel, &ACState::targetTemperature,
                      &ACState::temperatureUnit, &ACState::swing, &ACState::horizontalSwing, &ACState::light);
}

constexpr auto fieldsOf(std::type_identity<MeasurementTime>)
{
    return std::tuple(&MeasurementTime::secondsAgo, &MeasurementTime::time);
}

constexpr auto fieldsOf(std::type_identity<SensiboMeasurement>)
{
    return std::tuple(&SensiboMeasurement::temperature, &SensiboMeasurement::humidity, &SensiboMeasurement::time);
}

constexpr auto fieldsOf(std::type_identity<ConnectionStatus>)
{
    return std::tuple(&ConnectionStatus::isAlive, &ConnectionStatus::lastSeen);
}

constexpr auto fieldsOf(std::type_identity<TemperatureRange>)
{
    return std::tuple(&TemperatureRange::isNative, &TemperatureRange::values);
}

constexpr auto fieldsOf(std::type_identity<ModeCapabilities>)
{
    return std::tuple(&ModeCapabilities::temperatures, &ModeCapabilities::fanLevels, &ModeCapabilities::swing,
                      &ModeCapabilities::horizontalSwing, &ModeCapabilities::light);
}

constexpr auto fieldsOf(std::type_identity<RemoteCapabilities>)
{
    return std::tuple(&RemoteCapabilities::modes);
}

constexpr auto fieldsOf(std::type_identity<SensiboDevice>)
{
    return std::tuple(&SensiboDevice::id, &SensiboDevice::room, &SensiboDevice::acState, &SensiboDevice::measurements,
                      &SensiboDevice::connectionStatus, &SensiboDevice::remoteCapabilities);
}

constexpr auto fieldsOf(std::type_identity<ACStateResult>)
{
    return std::tuple(&ACStateResult::acState);
}

template <typename Payload> constexpr auto fieldsOf(std::type_identity<SensiboResponse<Payload>>)
{
    return std::tuple(&SensiboResponse<Payload>::status, &SensiboResponse<Payload>::result);
}

// The records of Records.h, each of which names its JSON keys and, above, its fields.
template <typename T>
concept Record = requires
{
    typename T::CodingKeys;
    fieldsOf(std::type_identity<T>{});
};

template <typename T> struct IsOptional : std::false_type {};
template <typename T> struct IsOptional<std::optional<T>> : std::true_type {};

template <typename Pointer> struct MemberType;
template <typename Class, typename Member> struct MemberType<Member Class::*> {
    using type = Member;
};

// One bit per field in key order, set for those an answer must have: the ones not held in a std::optional.
template <Record R> constexpr quint32 requiredFields()
{
    using Fields = decltype(fieldsOf(std::type_identity<R>{}));
    static_assert(std::tuple_size_v<Fields> == R::keys.size(), "one field per key");
    static_assert(std::tuple_size_v<Fields> <= 32);
    return []<std::size_t... I>(std::index_sequence<I...>)
    {
        return ((IsOptional<typename MemberType<std::tuple_element_t<I, Fields>>::type>::value ? 0u : 1u << I) | ... |
                0u);
    }
    (std::make_index_sequence<std::tuple_size_v<Fields>>{});
}

// Whether a key from the answer is the record's I-th key, byte for byte.
template <Record R, std::size_t I> bool isKey(QByteArrayView key)
{
    constexpr std::string_view name = R::keys[I];
    return key.size() == static_cast<qsizetype>(name.size()) && std::memcmp(key.data(), name.data(), name.size()) == 0;
}

using Kind = JsonReader::Kind;

// Decodes straight from the reader into the records, in one pass over the answer. Each read takes the value that
// comes next, of a kind already peeked, and returns false either for a problem in the JSON itself (the reader has
// failed; nothing more is read) or for a value that does not fit its field (error() says where and why). In the
// latter case the value has still been read to its end, so that the rest of the answer is still checked as JSON:
// an answer that is not valid JSON is reported as such, whatever else is wrong with it.
//
// Which misfit is reported does not depend on the order of the answer's keys: in a record, the one of the first
// field in key order, a missing required field included; in a map, the one of the first key in code point order;
// in a list, the first one. When a key repeats, its last value counts.
class Decoder
{
public:
    explicit Decoder(JsonReader& reader)
        : m_reader(reader)
    {}

    const QString& error() const { return m_error; }

    bool read(Kind kind, const Path& path, QString& out)
    {
        if (kind != Kind::String) {
            return mismatch(kind, path, "a string");
        }
        return m_reader.readString(out);
    }

    bool read(Kind kind, const Path& path, bool& out)
    {
        if (kind != Kind::True && kind != Kind::False) {
            return mismatch(kind, path, "true or false");
        }
        out = kind == Kind::True;
        return m_reader.readLiteral(kind);
    }

    // Whole numbers only: 22 and 22.0 alike, but neither 22.5 nor 1e19.
    bool read(Kind kind, const Path& path, qint64& out)
    {
        if (kind != Kind::Number) {
            return mismatch(kind, path, "an integer");
        }
        JsonReader::Number number;
        if (!m_reader.readNumber(number)) {
            return false;
        }
        if (!number.integer) {
            return mismatch(path, "an integer", numberText(number));
        }
        out = *number.integer;
        return true;
    }

    bool read(Kind kind, const Path& path, double& out)
    {
        if (kind != Kind::Number) {
            return mismatch(kind, path, "a number");
        }
        JsonReader::Number number;
        if (!m_reader.readNumber(number)) {
            return false;
        }
        out = number.real;
        return true;
    }

    template <typename T> bool read(Kind kind, const Path& path, QList<T>& out)
    {
        if (kind != Kind::Array) {
            return mismatch(kind, path, "an array");
        }
        if constexpr (Record<T>) {
            out.clear();
            return readElements(path, out);
        } else {
            // Gathered on the stack first, so that the list is allocated once at its final size, and not at all
            // when the same text came shortly before.
            const char* start = m_reader.position();
            QVarLengthArray<T, 16> elements;
            if (!readElements(path, elements)) {
                return false;
            }
            const QByteArrayView text(start, m_reader.position() - start);
            RecentList<T>& recent = recentLists<T>()[hashOf(text) % recentListCount];
            if (recent.text.size() != text.size() || std::memcmp(recent.text.data(), text.data(), text.size()) != 0) {
                recent.text = text;
                recent.list =
                    QList<T>(std::make_move_iterator(elements.begin()), std::make_move_iterator(elements.end()));
            }
            out = recent.list;
            return true;
        }
    }

    template <typename T> bool read(Kind kind, const Path& path, QMap<QString, T>& out)
    {
        if (kind != Kind::Object) {
            return mismatch(kind, path, "an object");
        }
        if (!m_reader.enterObject()) {
            return false;
        }
        std::map<QString, T> entries;
        std::map<QByteArray, QString> misfits; // by key as UTF-8, whose byte order is code point order
        QByteArrayView rawKey;
        while (m_reader.nextKey(rawKey)) {
            QString key = m_reader.keyString(rawKey);
            Kind valueKind{};
            if (!m_reader.peek(valueKind)) {
                return false;
            }
            T value;
            if (read(valueKind, path.mapKey(key), value)) {
                if (!misfits.empty()) {
                    misfits.erase(key.toUtf8());
                }
                entries.insert_or_assign(std::move(key), std::move(value));
            } else if (m_reader.failed()) {
                return false;
            } else {
                misfits.insert_or_assign(key.toUtf8(), std::move(m_error));
            }
        }
        if (m_reader.failed()) {
            return false;
        }
        if (!misfits.empty()) {
            m_error = std::move(misfits.begin()->second);
            return false;
        }
        out = QMap<QString, T>(std::move(entries));
        return true;
    }

    template <Record R> bool read(Kind kind, const Path& path, R& out)
    {
        if (kind != Kind::Object) {
            return mismatch(kind, path, "an object");
        }
        return readFields(path, out);
    }

    // A record's object, at its opening brace. Keys the record does not name are checked as JSON and passed over.
    template <Record R> bool readFields(const Path& path, R& out)
    {
        constexpr std::size_t count = R::keys.size();
        constexpr quint32 required = requiredFields<R>();
        out = R{}; // a repeated key's object replaces the earlier one whole
        if (!m_reader.enterObject()) {
            return false;
        }
        quint32 seen = 0;
        quint32 misfit = 0;
        std::array<QString, count> misfits; // by field
        QByteArrayView key;
        while (m_reader.nextKey(key)) {
            bool fits = false;
            const int field = readKnownField(key, path, out, fits, std::make_index_sequence<count>{});
            if (field < 0) {
                if (!m_reader.skipValue()) {
                    return false;
                }
                continue;
            }
            if (m_reader.failed()) {
                return false;
            }
            const quint32 bit = 1u << field;
            seen |= bit;
            if (fits) {
                misfit &= ~bit;
            } else {
                misfit |= bit;
                misfits[field] = std::move(m_error);
            }
        }
        if (m_reader.failed()) {
            return false;
        }
        if (misfit == 0 && (seen & required) == required) {
            return true;
        }
        for (std::size_t field = 0; field < count; ++field) {
            const quint32 bit = 1u << field;
            if ((misfit & bit) != 0) {
                m_error = std::move(misfits[field]);
                return false;
            }
            if ((required & bit) != 0 && (seen & bit) == 0) {
                return fail(path.key(R::keys[field]), QStringLiteral("required key is missing"));
            }
        }
        return true;
    }

    // What stands in the answer, in words a user can match against it: null, 22.5, "heat", an object. Reads it.
    bool describe(Kind kind, QString& found)
    {
        switch (kind) {
        case Kind::Null:
            found = QStringLiteral("null");
            return m_reader.readLiteral(kind);
        case Kind::True:
            found = QStringLiteral("true");
            return m_reader.readLiteral(kind);
        case Kind::False:
            found = QStringLiteral("false");
            return m_reader.readLiteral(kind);
        case Kind::Number: {
            JsonReader::Number number;
            if (!m_reader.readNumber(number)) {
                return false;
            }
            found = numberText(number);
            return true;
        }
        case Kind::String: {
            QString text;
            if (!m_reader.readString(text)) {
                return false;
            }
            found = quotedText(text);
            return true;
        }
        case Kind::Array:
            found = QStringLiteral("an array");
            return m_reader.skipValue();
        case Kind::Object:
            found = QStringLiteral("an object");
            return m_reader.skipValue();
        }
        return false;
    }

private:
    // A required field takes the value as it is: null does not fit it.
    template <typename T> bool readField(const Path& path, T& out)
    {
        Kind kind{};
        return m_reader.peek(kind) && read(kind, path, out);
    }

    // An optional field is absent when null.
    template <typename T> bool readField(const Path& path, std::optional<T>& out)
    {
        Kind kind{};
        if (!m_reader.peek(kind)) {
            return false;
        }
        if (kind == Kind::Null) {
            out.reset();
            return m_reader.readLiteral(kind);
        }
        return read(kind, path, out.emplace());
    }

    // Reads the value of the field the key names, if it names one; returns the field's index, or -1.
    template <Record R, std::size_t... I>
    int readKnownField(QByteArrayView key, const Path& path, R& out, bool& fits, std::index_sequence<I...>)
    {
        constexpr auto fields = fieldsOf(std::type_identity<R>{});
        int field = -1;
        (void)((isKey<R, I>(key) && (field = static_cast<int>(I),
                                     fits = readField(path.key(R::keys[I]), out.*std::get<I>(fields)), true)) ||
               ...);
        return field;
    }

    // The elements of an array, at its opening bracket; after a misfit, the rest are only checked as JSON.
    template <typename Elements> bool readElements(const Path& path, Elements& elements)
    {
        if (!m_reader.enterArray()) {
            return false;
        }
        qsizetype index = 0;
        while (m_reader.nextElement()) {
            Kind kind{};
            if (!m_reader.peek(kind)) {
                return false;
            }
            if (!read(kind, path.index(index), elements.emplace_back())) {
                while (!m_reader.failed() && m_reader.nextElement()) {
                    m_reader.skipValue();
                }
                return false;
            }
            ++index;
        }
        return !m_reader.failed();
    }

    bool fail(const Path& path, const QString& what)
    {
        m_error = path.toString();
        m_error += u": ";
        m_error += what;
        return false;
    }

    bool mismatch(const Path& path, const char* expected, const QString& found)
    {
        return fail(path, QStringLiteral("expected %1, found %2").arg(QLatin1String(expected), found));
    }

    bool mismatch(Kind kind, const Path& path, const char* expected)
    {
        QString found;
        return describe(kind, found) && mismatch(path, expected, found);
    }

    // A list recently decoded, by its text in the answer. The lists of capabilities repeat from mode to mode and from
    // device to device; when the text is the same, so is the list, and the two share one copy.
    template <typename T> struct RecentList {
        QByteArrayView text;
        QList<T> list;
    };
    static constexpr std::size_t recentListCount = 16;

    template <typename T> std::array<RecentList<T>, recentListCount>& recentLists()
    {
        if constexpr (std::is_same_v<T, QString>) {
            return m_recentTextLists;
        } else {
            static_assert(std::is_same_v<T, qint64>);
            return m_recentIntegerLists;
        }
    }

    static std::size_t hashOf(QByteArrayView text)
    {
        std::size_t hash = static_cast<std::size_t>(text.size());
        for (const char c : text) {
            hash = hash * 31 + static_cast<uchar>(c);
        }
        return hash;
    }

    JsonReader& m_reader;
    QString m_error;
    std::array<RecentList<QString>, recentListCount> m_recentTextLists;
    std::array<RecentList<qint64>, recentListCount> m_recentIntegerLists;
};

bool isBlank(const QByteArray& body)
{
    for (const char c : body) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
    }
    return true;
}

template <typename Payload> Decoded<SensiboResponse<Payload>> decodeAnswer(const QByteArray& body)
{
    using Result = Decoded<SensiboResponse<Payload>>;
    if (isBlank(body)) {
        return Result::failure(QStringLiteral("The answer is empty, expected a JSON object"));
    }
    JsonReader reader(body);
    Decoder decoder(reader);
    SensiboResponse<Payload> response;
    Kind kind = Kind::Null;
    bool fits = false;
    QString found; // what stands at the top level instead of an object
    if (reader.peek(kind)) {
        if (kind == Kind::Object) {
            fits = decoder.readFields(Path(), response);
        } else {
            decoder.describe(kind, found);
        }
        reader.finish();
    }
    if (reader.failed()) {
        return Result::failure(QStringLiteral("The answer is not valid JSON: %1 at offset %2")
                                   .arg(reader.problem())
                                   .arg(reader.problemOffset()));
    }
    if (kind != Kind::Object) {
        return Result::failure(QStringLiteral("expected a JSON object at the top level, found %1").arg(found));
    }
    if (!fits) {
        return Result::failure(decoder.error());
    }
    return Result::success(std::move(response));
}

} // namespace

Decoded<DeviceListResponse> decodeDeviceListResponse(const QByteArray& body)
{
    return decodeAnswer<QList<SensiboDevice>>(body);
}

Decoded<ACStateResponse> decodeACStateResponse(const QByteArray& body)
{
    return decodeAnswer<ACStateResult>(body);
}
