#include "model/Decoding.h"

#include <QLatin1String>
#include <QLocale>
#include <QVarLengthArray>

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <tuple>
#include <type_traits>
#include <unordered_map>
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

// A number as the answer gives it: exact when it is an integer that fits in 64 bits, otherwise the nearest double;
// and whole whenever that double has no fraction and fits in 64 bits (22, 22.0, 2.2e1 alike).
struct Number {
    std::optional<qint64> integer;
    double real = 0;
};

// The integer a double stands for, when it has no fraction and fits in 64 bits.
std::optional<qint64> wholeNumber(double real)
{
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (real >= -limit && real < limit && std::trunc(real) == real) {
        return static_cast<qint64>(real);
    }
    return std::nullopt;
}

// The number as JSON writes it: integers in full, fractions at their shortest.
QString numberText(const Number& number)
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

constexpr auto fieldsOf(std::type_identity<DeviceTimer>)
{
    return std::tuple(&DeviceTimer::isEnabled, &DeviceTimer::acState, &DeviceTimer::targetTimeSecondsFromNow,
                      &DeviceTimer::targetTime);
}

constexpr auto fieldsOf(std::type_identity<SmartMode>)
{
    return std::tuple(&SmartMode::enabled, &SmartMode::type, &SmartMode::lowTemperatureThreshold,
                      &SmartMode::highTemperatureThreshold, &SmartMode::lowTemperatureState,
                      &SmartMode::highTemperatureState);
}

constexpr auto fieldsOf(std::type_identity<DeviceDetails>)
{
    return std::tuple(&DeviceDetails::timer, &DeviceDetails::smartMode);
}

constexpr auto fieldsOf(std::type_identity<MeasurementPoint>)
{
    return std::tuple(&MeasurementPoint::time, &MeasurementPoint::value);
}

constexpr auto fieldsOf(std::type_identity<MeasurementHistory>)
{
    return std::tuple(&MeasurementHistory::temperature, &MeasurementHistory::humidity);
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
template <typename T> struct IsOptional<Tolerant<T>> : std::true_type {};

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
template <Record R, std::size_t I> bool isKey(std::string_view key)
{
    return key == std::string_view(R::keys[I]);
}

namespace od = simdjson::ondemand;
using simdjson::error_code;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The length of the well-formed UTF-8 sequence that starts the text, whose first byte is 0x80 or above, or 0 when
// it is not one: no overlong forms, no encoded surrogates, nothing above U+10FFFF.
int utf8SequenceLength(QByteArrayView text)
{
    const auto byte = [text](qsizetype i) { return static_cast<uchar>(text[i]); };
    const uchar lead = byte(0);
    int length = 0;
    uchar low = 0x80;
    uchar high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (int i = 2; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// simdjson checks the UTF-8 and the strings of the whole answer before anything is read, and says only that
// something is wrong; this finds the first problem and where it is.
std::pair<const char*, qsizetype> firstTextProblem(QByteArrayView text)
{
    bool inString = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto c = static_cast<uchar>(text[i]);
        if (c >= 0x80) {
            const int length = utf8SequenceLength(text.sliced(i));
            if (length == 0) {
                return {inString ? "invalid UTF-8 in a string" : "invalid UTF-8", i};
            }
            i += length - 1;
        } else if (!inString) {
            inString = c == '"';
        } else if (c == '\\') {
            i += i + 1 < text.size() && static_cast<uchar>(text[i + 1]) < 0x80 ? 1 : 0;
        } else if (c == '"') {
            inString = false;
        } else if (c < 0x20) {
            return {"control character in a string", i};
        }
    }
    return {inString ? "unterminated string" : nullptr, text.size()};
}

// An integer of more digits than 64 bits hold is valid JSON that simdjson refuses; a real field takes it.
bool isLongInteger(std::string_view token)
{
    if (!token.empty() && token.front() == '-') {
        token.remove_prefix(1);
    }
    return token.size() > 1 && token.front() != '0' &&
           std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Decodes with simdjson's On-Demand API straight into the records, in one pass over the answer (two over a block of
// capabilities not met before in it). Each read takes a value whose JSON type has been looked at, and returns false
// either for a problem in the JSON itself (failed(); nothing more is read) or for a value that does not fit its
// field (error() says where and why). After a misfit the rest of the answer is still gone through, so that a problem
// in the JSON found further on is reported instead. Values Kelvo does not read are stepped over: simdjson checks the
// UTF-8 and the strings of the whole answer, but the inside of a value it steps over only as far as its brackets.
//
// Which misfit is reported does not depend on the order of the answer's keys: in a record, the one of the first
// field in key order, a missing required field included; in a map, the one of the first key in code point order;
// in a list, the first one. When a key repeats, its last value counts.
class Decoder
{
public:
    // `text` is what simdjson reads; `skipped` the bytes of the answer before it (a byte order mark).
    Decoder(od::document& document, QByteArrayView text, qsizetype skipped)
        : m_document(document)
        , m_text(text)
        , m_skipped(skipped)
    {}

    bool failed() const { return m_problem != nullptr; }
    const QString& error() const { return m_error; }

    // Reads the capability blocks kept from earlier answers in `memo`.
    void useMemo(QHash<QByteArray, RemoteCapabilities>* memo) { m_memo = memo; }

    // Leaves this answer's capability blocks in the memo, and only them.
    void remember()
    {
        if (!m_memo || (m_keptBlocks == m_capabilities.size() && m_memo->size() == qsizetype(m_keptBlocks))) {
            return; // the blocks of the last answer again
        }
        // The texts are kept up to a bound: an account whose devices are each a model of their own must not hold
        // its capabilities twice over, once decoded and once as text.
        constexpr qsizetype textLimit = 256 * 1024;
        qsizetype textSize = 0;
        QHash<QByteArray, RemoteCapabilities> blocks;
        blocks.reserve(qsizetype(m_capabilities.size()));
        for (const auto& [text, record] : m_capabilities) {
            textSize += qsizetype(text.size());
            if (textSize > textLimit) {
                break;
            }
            const QByteArray raw = QByteArray::fromRawData(text.data(), qsizetype(text.size()));
            const auto kept = m_memo->constFind(raw);
            // A kept key shares its text; a new one is copied out of the answer, which goes.
            blocks.insert(kept != m_memo->cend() ? kept.key() : QByteArray(raw.constData(), raw.size()), record);
        }
        *m_memo = std::move(blocks);
    }

    // What is wrong with the JSON, once failed().
    QString problem() const
    {
        return QStringLiteral("The answer is not valid JSON: %1 at offset %2")
            .arg(QLatin1String(m_problem))
            .arg(m_problemOffset);
    }

    // A problem in the JSON at `at`, a position in the text.
    bool fail(const char* problem, const char* at)
    {
        if (m_problem == nullptr) {
            m_problem = problem;
            const qsizetype offset = std::clamp<qsizetype>(at - m_text.data(), 0, m_text.size());
            m_problemOffset = m_skipped + std::min(offset + 1, m_text.size());
        }
        return false;
    }

    bool fail(error_code code, const char* at)
    {
        switch (code) {
        case simdjson::UTF8_ERROR:
        case simdjson::UNESCAPED_CHARS:
        case simdjson::UNCLOSED_STRING: {
            const auto [problem, offset] = firstTextProblem(m_text);
            if (problem != nullptr) {
                return fail(problem, m_text.data() + offset);
            }
            break;
        }
        case simdjson::STRING_ERROR:
            return fail("invalid escape sequence", at);
        case simdjson::NUMBER_ERROR:
            return fail("malformed number", at);
        case simdjson::T_ATOM_ERROR:
        case simdjson::F_ATOM_ERROR:
        case simdjson::N_ATOM_ERROR:
        case simdjson::INCORRECT_TYPE: // a literal that is not quite true, false or null
            return fail("expected true, false or null", at);
        case simdjson::TAPE_ERROR:
            return at == end() ? fail("unterminated object or array", at) : fail("unexpected character", at);
        case simdjson::INCOMPLETE_ARRAY_OR_OBJECT:
            return fail("unterminated object or array", end());
        case simdjson::TRAILING_CONTENT: { // after a top-level number or literal, which holds no blanks
            const char* after =
                std::find_if(std::find_if(at, end(), isBlank), end(), [](char c) { return !isBlank(c); });
            return fail("unexpected text after the end of the document", after);
        }
        default:
            break;
        }
        return fail(simdjson::error_message(code), at);
    }

    // Where the reading stands, or the end of the text.
    const char* location()
    {
        const char* at = nullptr;
        return m_document.current_location().get(at) == simdjson::SUCCESS ? at : end();
    }

    bool check(error_code code) { return code == simdjson::SUCCESS || fail(code, location()); }
    template <typename Value> bool check(error_code code, Value& value)
    {
        return code == simdjson::SUCCESS || fail(code, where(value));
    }

    bool read(od::value& value, od::json_type type, const Path& path, QString& out)
    {
        if (type != od::json_type::string) {
            return mismatch(value, type, path, "a string");
        }
        return readString(value, out);
    }

    bool read(od::value& value, od::json_type type, const Path& path, bool& out)
    {
        if (type != od::json_type::boolean) {
            return mismatch(value, type, path, "true or false");
        }
        return check(value.get_bool().get(out), value);
    }

    // Whole numbers only: 22 and 22.0 alike, but neither 22.5 nor 1e19.
    bool read(od::value& value, od::json_type type, const Path& path, qint64& out)
    {
        if (type != od::json_type::number) {
            return mismatch(value, type, path, "an integer");
        }
        Number number;
        if (!readNumber(value, number)) {
            return false;
        }
        if (!number.integer) {
            return mismatch(path, "an integer", numberText(number));
        }
        out = *number.integer;
        return true;
    }

    bool read(od::value& value, od::json_type type, const Path& path, double& out)
    {
        if (type != od::json_type::number) {
            return mismatch(value, type, path, "a number");
        }
        Number number;
        if (!readNumber(value, number)) {
            return false;
        }
        out = number.real;
        return true;
    }

    // Gathered on the stack first, so that the list is allocated once at its final size.
    template <typename T> bool read(od::value& value, od::json_type type, const Path& path, QList<T>& out)
    {
        if (type != od::json_type::array) {
            return mismatch(value, type, path, "an array");
        }
        od::array array;
        if (!check(value.get_array().get(array), value)) {
            return false;
        }
        QVarLengthArray<T, 16> elements;
        bool fits = true; // after a misfit, the rest are only stepped over
        for (auto element : array) {
            od::value item;
            if (!check(element.get(item))) {
                return false;
            }
            if (fits) {
                const Path itemPath = path.index(elements.size());
                fits = readValue(item, itemPath, elements.emplace_back());
                if (failed()) {
                    return false;
                }
            }
        }
        if (fits) {
            out = QList<T>(std::make_move_iterator(elements.begin()), std::make_move_iterator(elements.end()));
        }
        return fits;
    }

    template <typename T> bool read(od::value& value, od::json_type type, const Path& path, QMap<QString, T>& out)
    {
        if (type != od::json_type::object) {
            return mismatch(value, type, path, "an object");
        }
        od::object object;
        if (!check(value.get_object().get(object), value)) {
            return false;
        }
        std::map<QString, T> entries;
        std::map<std::string_view, QString> misfits; // by key as UTF-8, whose byte order is code point order
        for (auto member : object) {
            od::field field;
            std::string_view rawKey; // lives as long as the parser
            if (!check(std::move(member).get(field)) || !readKey(field, rawKey)) {
                return false;
            }
            QString key = QString::fromUtf8(rawKey.data(), qsizetype(rawKey.size()));
            T entry;
            if (readValue(field.value(), path.mapKey(key), entry)) {
                if (!misfits.empty()) {
                    misfits.erase(rawKey);
                }
                entries.insert_or_assign(std::move(key), std::move(entry));
            } else if (failed()) {
                return false;
            } else {
                misfits.insert_or_assign(rawKey, std::move(m_error));
            }
        }
        if (failed()) {
            return false;
        }
        if (!misfits.empty()) {
            m_error = std::move(misfits.begin()->second);
            return false;
        }
        out = QMap<QString, T>(std::move(entries));
        return true;
    }

    // Devices of one model describe their remote alike, byte for byte: such a block is decoded once per answer and
    // the devices share the record (its maps are implicitly shared: a copy costs a pointer and compares equal).
    bool read(od::value& value, od::json_type type, const Path& path, RemoteCapabilities& out)
    {
        if (type != od::json_type::object) {
            return mismatch(value, type, path, "an object");
        }
        od::object object;
        std::string_view text;
        if (!check(value.get_object().get(object), value) || !check(object.raw_json().get(text), value)) {
            return false;
        }
        if (const auto known = m_capabilities.find(text); known != m_capabilities.end()) {
            out = known->second;
            return true;
        }
        if (m_memo) {
            const auto kept = m_memo->constFind(QByteArray::fromRawData(text.data(), qsizetype(text.size())));
            if (kept != m_memo->cend()) {
                out = *kept;
                m_capabilities.emplace(text, out);
                ++m_keptBlocks;
                return true;
            }
        }
        bool notEmpty = false;
        if (!check(object.reset().get(notEmpty), value) || !readFields(object, path, out)) {
            return false;
        }
        m_capabilities.emplace(text, out);
        return true;
    }

    template <Record R> bool read(od::value& value, od::json_type type, const Path& path, R& out)
    {
        if (type != od::json_type::object) {
            return mismatch(value, type, path, "an object");
        }
        od::object object;
        return check(value.get_object().get(object), value) && readFields(object, path, out);
    }

    // A record's object. Keys the record does not name are stepped over.
    template <Record R> bool readFields(od::object& object, const Path& path, R& out)
    {
        constexpr std::size_t count = R::keys.size();
        constexpr quint32 required = requiredFields<R>();
        out = R{}; // a repeated key's object replaces the earlier one whole
        quint32 seen = 0;
        quint32 misfit = 0;
        std::array<QString, count> misfits; // by field
        for (auto member : object) {
            od::field field;
            std::string_view key;
            if (!check(std::move(member).get(field)) || !readKey(field, key)) {
                return false;
            }
            bool fits = false;
            const int index = readKnownField(key, field.value(), path, out, fits, std::make_index_sequence<count>{});
            if (failed()) {
                return false;
            }
            if (index < 0) {
                continue;
            }
            const quint32 bit = 1u << index;
            seen |= bit;
            if (fits) {
                misfit &= ~bit;
            } else {
                misfit |= bit;
                misfits[index] = std::move(m_error);
            }
        }
        if (failed()) {
            return false;
        }
        if (misfit == 0 && (seen & required) == required) {
            return true;
        }
        for (std::size_t index = 0; index < count; ++index) {
            const quint32 bit = 1u << index;
            if ((misfit & bit) != 0) {
                m_error = std::move(misfits[index]);
                return false;
            }
            if ((required & bit) != 0 && (seen & bit) == 0) {
                return misfitAt(path.key(R::keys[index]), QStringLiteral("required key is missing"));
            }
        }
        return true;
    }

    // What stands in the answer, in words a user can match against it: null, 22.5, "heat", an object. Reads it.
    template <typename Value> bool describe(Value& value, od::json_type type, QString& found)
    {
        switch (type) {
        case od::json_type::null:
            found = QStringLiteral("null");
            return readNull(value);
        case od::json_type::boolean: {
            bool truth = false;
            if (!check(value.get_bool().get(truth), value)) {
                return false;
            }
            found = truth ? QStringLiteral("true") : QStringLiteral("false");
            return true;
        }
        case od::json_type::number: {
            Number number;
            if (!readNumber(value, number)) {
                return false;
            }
            found = numberText(number);
            return true;
        }
        case od::json_type::string: {
            QString text;
            if (!readString(value, text)) {
                return false;
            }
            found = quotedText(text);
            return true;
        }
        case od::json_type::array:
            found = QStringLiteral("an array");
            return true;
        case od::json_type::object:
            found = QStringLiteral("an object");
            return true;
        }
        return false;
    }

private:
    const char* end() const { return m_text.data() + m_text.size(); }

    // The first byte of a value or of a key, for a problem found there.
    const char* where(od::value& value) { return value.raw_json_token().data(); }
    const char* where(od::document& document)
    {
        std::string_view token;
        return document.raw_json_token().get(token) == simdjson::SUCCESS ? token.data() : location();
    }

    // The field's key, unescaped; it lives as long as the parser.
    bool readKey(od::field& field, std::string_view& key)
    {
        const char* quote = field.key().raw() - 1;
        const error_code code = field.unescaped_key().get(key);
        return code == simdjson::SUCCESS || fail(code, quote);
    }

    template <typename T> bool readValue(od::value& value, const Path& path, T& out)
    {
        od::json_type type{};
        return check(value.type().get(type), value) && read(value, type, path, out);
    }

    // A required field takes the value as it is: null does not fit it.
    template <typename T> bool readField(od::value& value, const Path& path, T& out)
    {
        return readValue(value, path, out);
    }

    // An optional field is absent when null.
    template <typename T> bool readField(od::value& value, const Path& path, std::optional<T>& out)
    {
        od::json_type type{};
        if (!check(value.type().get(type), value)) {
            return false;
        }
        if (type == od::json_type::null) {
            out.reset();
            return readNull(value);
        }
        return read(value, type, path, out.emplace());
    }

    // A tolerant field always fits: a value that does not is dropped and only marked unreadable.
    template <typename T> bool readField(od::value& value, const Path& path, Tolerant<T>& out)
    {
        od::json_type type{};
        if (!check(value.type().get(type), value)) {
            return false;
        }
        out = Tolerant<T>{};
        if (type == od::json_type::null) {
            out.kind = Tolerant<T>::Kind::Null;
            return readNull(value);
        }
        if (read(value, type, path, out.value)) {
            out.kind = Tolerant<T>::Kind::Present;
            return true;
        }
        if (failed()) {
            return false;
        }
        out.value = T{};
        out.kind = Tolerant<T>::Kind::Unreadable;
        m_error.clear();
        return true;
    }

    // Reads the value of the field the key names, if it names one; returns the field's index, or -1.
    template <Record R, std::size_t... I>
    int readKnownField(std::string_view key, od::value& value, const Path& path, R& out, bool& fits,
                       std::index_sequence<I...>)
    {
        constexpr auto fields = fieldsOf(std::type_identity<R>{});
        int index = -1;
        (void)((isKey<R, I>(key) && (index = static_cast<int>(I),
                                     fits = readField(value, path.key(R::keys[I]), out.*std::get<I>(fields)), true)) ||
               ...);
        return index;
    }

    template <typename Value> bool readNull(Value& value)
    {
        bool isNull = false;
        return check(value.is_null().get(isNull), value) &&
               (isNull || fail("expected true, false or null", where(value)));
    }

    template <typename Value> bool readString(Value& value, QString& out)
    {
        std::string_view text;
        if (!check(value.get_string().get(text), value)) {
            return false;
        }
        out = QString::fromUtf8(text.data(), qsizetype(text.size()));
        return true;
    }

    template <typename Value> bool readNumber(Value& value, Number& out)
    {
        od::number number;
        const error_code code = value.get_number().get(number);
        if (code == simdjson::NUMBER_ERROR) {
            return readNumberText(where(value), true, out);
        }
        if (!check(code, value)) {
            return false;
        }
        switch (number.get_number_type()) {
        case od::number_type::signed_integer:
            out.integer = number.get_int64();
            out.real = static_cast<double>(*out.integer);
            return true;
        case od::number_type::unsigned_integer:
            out.real = static_cast<double>(number.get_uint64());
            return true;
        case od::number_type::floating_point_number:
            out.real = number.get_double();
            // simdjson rounds a number too small for a double to zero; its text tells it from a real zero.
            if (out.real == 0 && !readNumberText(where(value), false, out)) {
                return false;
            }
            // Whole numbers become integers even when written with a fraction or an exponent, and -0 becomes 0.
            out.integer = wholeNumber(out.real);
            out.real = out.integer ? static_cast<double>(*out.integer) : out.real;
            return true;
        }
        return false;
    }

    // A number read from its text where simdjson cannot tell: an integer beyond 64 bits (valid JSON that simdjson
    // `refused`) and a number out of range (refused when too large, rounded to zero when too small).
    bool readNumberText(const char* at, bool refused, Number& out)
    {
        const char* stop = std::find_if(at, end(), [](char c) {
            return !((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E');
        });
        double real = 0;
        const std::from_chars_result result = std::from_chars(at, stop, real);
        if (result.ec == std::errc::result_out_of_range) {
            return fail("number out of range", at);
        }
        if (result.ec != std::errc() || result.ptr != stop ||
            (refused && !isLongInteger({at, std::size_t(stop - at)}))) {
            return fail("malformed number", at);
        }
        out.real = real;
        return true;
    }

    bool misfitAt(const Path& path, const QString& what)
    {
        m_error = path.toString();
        m_error += u": ";
        m_error += what;
        return false;
    }

    bool mismatch(const Path& path, const char* expected, const QString& found)
    {
        return misfitAt(path, QStringLiteral("expected %1, found %2").arg(QLatin1String(expected), found));
    }

    bool mismatch(od::value& value, od::json_type type, const Path& path, const char* expected)
    {
        QString found;
        return describe(value, type, found) && mismatch(path, expected, found);
    }

    od::document& m_document;
    QByteArrayView m_text;
    std::unordered_map<std::string_view, RemoteCapabilities> m_capabilities; // by their text in the answer
    QHash<QByteArray, RemoteCapabilities>* m_memo = nullptr;
    std::size_t m_keptBlocks = 0; // of m_capabilities, those found in the memo
    qsizetype m_skipped = 0;
    QString m_error;
    const char* m_problem = nullptr;
    qsizetype m_problemOffset = 0;
};

template <typename Payload>
Decoded<SensiboResponse<Payload>> decodeAnswer(const QByteArray& body,
                                               QHash<QByteArray, RemoteCapabilities>* memo = nullptr)
{
    using Result = Decoded<SensiboResponse<Payload>>;
    QByteArrayView text(body);
    const qsizetype skipped = text.startsWith("\xEF\xBB\xBF") ? 3 : 0; // a leading byte order mark is allowed
    text = text.sliced(skipped);
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    if (first == text.end()) {
        return Result::failure(QStringLiteral("The answer is empty, expected a JSON object"));
    }
    if (std::string_view("{[\"-0123456789tfn").find(*first) == std::string_view::npos) {
        return Result::failure(QStringLiteral("The answer is not valid JSON: expected a value at offset %1")
                                   .arg(skipped + first - text.begin() + 1));
    }

    // simdjson reads up to SIMDJSON_PADDING bytes past the end of the text (whatever they hold). The body is copied
    // only when its buffer has no such room after it.
    QByteArray shared = body; // data_ptr() is not const in Qt 6.4; this copy shares the buffer
    simdjson::padded_string padded;
    if (shared.data_ptr().freeSpaceAtEnd() < qsizetype(simdjson::SIMDJSON_PADDING)) {
        padded = simdjson::padded_string(text.data(), std::size_t(text.size()));
        text = QByteArrayView(padded.data(), text.size());
    }
    od::parser parser;
    od::document document;
    const error_code parsed =
        parser.iterate(text.data(), std::size_t(text.size()), std::size_t(text.size()) + simdjson::SIMDJSON_PADDING)
            .get(document);
    Decoder decoder(document, text, skipped);
    decoder.useMemo(memo);
    if (parsed != simdjson::SUCCESS) {
        decoder.fail(parsed, text.data());
        return Result::failure(decoder.problem());
    }

    SensiboResponse<Payload> response;
    bool fits = false;
    od::json_type type{};
    QString found; // what stands at the top level instead of an object
    if (decoder.check(document.type().get(type), document)) {
        if (type == od::json_type::object) {
            od::object object;
            const error_code opened = document.get_object().get(object);
            if (opened == simdjson::INCOMPLETE_ARRAY_OR_OBJECT && text.trimmed().back() != '}') {
                // simdjson looks at the last character first: the answer is cut short or goes on after its end.
                decoder.fail("expected '}' as the last character", text.trimmed().end() - 1);
            } else if (decoder.check(opened)) {
                fits = decoder.readFields(object, Path(), response);
                const char* after = nullptr;
                if (!decoder.failed() && document.current_location().get(after) == simdjson::SUCCESS) {
                    decoder.fail("unexpected text after the end of the document", after);
                }
            }
        } else {
            decoder.describe(document, type, found);
        }
    }
    if (decoder.failed()) {
        return Result::failure(decoder.problem());
    }
    if (type != od::json_type::object) {
        return Result::failure(QStringLiteral("expected a JSON object at the top level, found %1").arg(found));
    }
    if (!fits) {
        return Result::failure(decoder.error());
    }
    decoder.remember();
    return Result::success(std::move(response));
}

} // namespace

Decoded<DeviceListResponse> decodeDeviceListResponse(const QByteArray& body)
{
    return decodeAnswer<QList<SensiboDevice>>(body);
}

Decoded<DeviceListResponse> decodeDeviceListResponse(const QByteArray& body, CapabilityMemo& memo)
{
    return decodeAnswer<QList<SensiboDevice>>(body, &memo.m_blocks);
}

Decoded<ACStateResponse> decodeACStateResponse(const QByteArray& body)
{
    return decodeAnswer<ACStateResult>(body);
}

Decoded<DeviceDetailsResponse> decodeDeviceDetailsResponse(const QByteArray& body)
{
    return decodeAnswer<DeviceDetails>(body);
}

Decoded<HistoryResponse> decodeHistoryResponse(const QByteArray& body)
{
    return decodeAnswer<MeasurementHistory>(body);
}
