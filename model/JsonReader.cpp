#include "model/JsonReader.h"

#include <QVarLengthArray>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The length of the well-formed UTF-8 sequence at p, whose first byte is 0x80 or above, or 0 when it is not one:
// no overlong forms, no encoded surrogates, nothing above U+10FFFF.
int utf8Sequence(const char* at, const char* end, char32_t& codePoint)
{
    const auto* p = reinterpret_cast<const uchar*>(at);
    const uchar lead = p[0];
    int length = 0;
    uchar low = 0x80;
    uchar high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return 0;
    }
    if (end - at < length || p[1] < low || p[1] > high) {
        return 0;
    }
    codePoint = (codePoint << 6) | (p[1] & 0x3F);
    for (int i = 2; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (p[i] & 0x3F);
    }
    return length;
}

// The four hex digits of a \u escape at p. On failure, stop is the first byte that is not a hex digit (or the end).
bool hexUnit(const char* p, const char* end, char32_t& unit, const char*& stop)
{
    unit = 0;
    for (int i = 0; i < 4; ++i, ++p) {
        if (p == end) {
            stop = p;
            return false;
        }
        const char c = *p;
        const char lower = static_cast<char>(c | 0x20);
        char32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (lower >= 'a' && lower <= 'f') {
            digit = lower - 'a' + 10;
        } else {
            stop = p;
            return false;
        }
        unit = (unit << 4) | digit;
    }
    stop = p;
    return true;
}

bool isHighSurrogate(char32_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(char32_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The integer a double stands for, when it has no fraction and fits in 64 bits.
std::optional<qint64> wholeNumber(double real)
{
    constexpr double limit = 9223372036854775808.0; // 2^63
    if (real >= -limit && real < limit && std::trunc(real) == real) {
        return static_cast<qint64>(real);
    }
    return std::nullopt;
}

// Where a string's text goes: nowhere, into UTF-16 for a value, or into UTF-8 for a key.
struct SkipSink {
    void ascii(const char*, qsizetype) {}
    void codePoint(char32_t) {}
    void utf8(const char*, int, char32_t) {}
};

struct Utf16Sink {
    QVarLengthArray<char16_t, 256> units;

    void ascii(const char* p, qsizetype length)
    {
        const qsizetype at = units.size();
        units.resize(at + length);
        std::transform(p, p + length, units.begin() + at, [](char c) { return static_cast<uchar>(c); });
    }
    void codePoint(char32_t codePoint)
    {
        if (codePoint < 0x10000) {
            units.append(static_cast<char16_t>(codePoint));
        } else {
            units.append(QChar::highSurrogate(codePoint));
            units.append(QChar::lowSurrogate(codePoint));
        }
    }
    void utf8(const char*, int, char32_t codePoint) { this->codePoint(codePoint); }
};

struct Utf8Sink {
    QByteArray& bytes;

    void ascii(const char* p, qsizetype length) { bytes.append(p, length); }
    void codePoint(char32_t codePoint)
    {
        if (codePoint < 0x80) {
            bytes.append(static_cast<char>(codePoint));
        } else if (codePoint < 0x800) {
            bytes.append(static_cast<char>(0xC0 | (codePoint >> 6)));
            bytes.append(static_cast<char>(0x80 | (codePoint & 0x3F)));
        } else if (codePoint < 0x10000) {
            bytes.append(static_cast<char>(0xE0 | (codePoint >> 12)));
            bytes.append(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
            bytes.append(static_cast<char>(0x80 | (codePoint & 0x3F)));
        } else {
            bytes.append(static_cast<char>(0xF0 | (codePoint >> 18)));
            bytes.append(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
            bytes.append(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
            bytes.append(static_cast<char>(0x80 | (codePoint & 0x3F)));
        }
    }
    void utf8(const char* p, int length, char32_t) { bytes.append(p, length); }
};

} // namespace

JsonReader::JsonReader(QByteArrayView text)
    : m_begin(text.data())
    , m_pos(text.data())
    , m_end(text.data() + text.size())
{
    if (text.size() >= 3 && std::memcmp(m_pos, "\xEF\xBB\xBF", 3) == 0) {
        m_pos += 3;
    }
}

bool JsonReader::readKeySlow(QByteArrayView& key)
{
    m_keyBuffer.resize(0);
    Utf8Sink sink{m_keyBuffer};
    if (!scanString(sink)) {
        return false;
    }
    key = QByteArrayView(m_keyBuffer);
    return true;
}

bool JsonReader::readStringSlow(QString& out)
{
    Utf16Sink sink;
    if (!scanString(sink)) {
        return false;
    }
    out = QString::fromUtf16(sink.units.constData(), sink.units.size());
    return true;
}

// From the opening quote to past the closing one, checking escapes and UTF-8 on the way.
template <typename Sink> bool JsonReader::scanString(Sink& sink)
{
    const char* p = m_pos + 1;
    for (;;) {
        const char* run = p;
        while (p != m_end && plainBytes[static_cast<uchar>(*p)]) {
            ++p;
        }
        sink.ascii(run, p - run);
        if (p == m_end) {
            return fail("unterminated string", m_end);
        }
        const char c = *p;
        if (c == '"') {
            m_pos = p + 1;
            return true;
        }
        if (c == '\\') {
            ++p;
            if (p == m_end) {
                return fail("unterminated string", m_end);
            }
            char32_t unit = 0;
            switch (*p) {
            case '"':
            case '\\':
            case '/':
                unit = static_cast<char32_t>(*p);
                break;
            case 'b':
                unit = u'\b';
                break;
            case 'f':
                unit = u'\f';
                break;
            case 'n':
                unit = u'\n';
                break;
            case 'r':
                unit = u'\r';
                break;
            case 't':
                unit = u'\t';
                break;
            case 'u': {
                const char* stop = nullptr;
                if (!hexUnit(p + 1, m_end, unit, stop)) {
                    return stop == m_end ? fail("unterminated string", m_end) : fail("invalid escape sequence", stop);
                }
                p = stop - 1; // the last digit
                if (isLowSurrogate(unit)) {
                    return fail("unpaired surrogate in a \\u escape", p);
                }
                if (isHighSurrogate(unit)) {
                    char32_t low = 0;
                    if (m_end - p < 3 || p[1] != '\\' || p[2] != 'u') {
                        return fail("unpaired surrogate in a \\u escape", p);
                    }
                    if (!hexUnit(p + 3, m_end, low, stop)) {
                        return stop == m_end ? fail("unterminated string", m_end)
                                             : fail("invalid escape sequence", stop);
                    }
                    p = stop - 1;
                    if (!isLowSurrogate(low)) {
                        return fail("unpaired surrogate in a \\u escape", p);
                    }
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                }
                break;
            }
            default:
                return fail("invalid escape sequence", p);
            }
            sink.codePoint(unit);
            ++p;
            continue;
        }
        if (static_cast<uchar>(c) < 0x20) {
            return fail("control character in a string", p);
        }
        char32_t codePoint = 0;
        const int length = utf8Sequence(p, m_end, codePoint);
        if (length == 0) {
            return fail("invalid UTF-8 in a string", p);
        }
        sink.utf8(p, length, codePoint);
        p += length;
    }
}

bool JsonReader::readNumberSlow(Number& out)
{
    const char* start = m_pos;
    const char* p = m_pos;
    const bool negative = *p == '-';
    if (negative) {
        ++p;
    }
    if (p == m_end) {
        return failAtEnd();
    }
    quint64 magnitude = 0;
    bool exact = true; // an integer, so far within 64 bits
    if (*p == '0') {
        ++p;
    } else if (isDigit(*p)) {
        do {
            const unsigned digit = static_cast<unsigned>(*p - '0');
            if (magnitude > (std::numeric_limits<quint64>::max() - digit) / 10) {
                exact = false;
            } else {
                magnitude = magnitude * 10 + digit;
            }
            ++p;
        } while (p != m_end && isDigit(*p));
    } else {
        return fail("malformed number", p);
    }
    if (p != m_end && *p == '.') {
        exact = false;
        ++p;
        if (p == m_end || !isDigit(*p)) {
            return p == m_end ? failAtEnd() : fail("malformed number", p);
        }
        while (p != m_end && isDigit(*p)) {
            ++p;
        }
    }
    if (p != m_end && (*p == 'e' || *p == 'E')) {
        exact = false;
        ++p;
        if (p != m_end && (*p == '+' || *p == '-')) {
            ++p;
        }
        if (p == m_end || !isDigit(*p)) {
            return p == m_end ? failAtEnd() : fail("malformed number", p);
        }
        while (p != m_end && isDigit(*p)) {
            ++p;
        }
    }

    if (exact) {
        constexpr quint64 largest = std::numeric_limits<qint64>::max();
        if (!negative && magnitude <= largest) {
            out.integer = static_cast<qint64>(magnitude);
            out.real = static_cast<double>(*out.integer);
            m_pos = p;
            return true;
        }
        if (negative && magnitude <= largest + 1) {
            out.integer =
                magnitude == largest + 1 ? std::numeric_limits<qint64>::min() : -static_cast<qint64>(magnitude);
            out.real = static_cast<double>(*out.integer);
            m_pos = p;
            return true;
        }
    }
    double real = 0;
    const std::from_chars_result result = std::from_chars(start, p, real);
    if (result.ec == std::errc::result_out_of_range) {
        return fail("number out of range", p - 1);
    }
    if (result.ec != std::errc() || result.ptr != p) {
        return fail("malformed number", result.ptr);
    }
    // Whole numbers become integers even when written with a fraction or an exponent, and -0 becomes 0.
    out.integer = wholeNumber(real);
    out.real = out.integer ? static_cast<double>(*out.integer) : real;
    m_pos = p;
    return true;
}

bool JsonReader::skipValue()
{
    Kind kind{};
    if (!peek(kind)) {
        return false;
    }
    switch (kind) {
    case Kind::Object: {
        if (!enterObject()) {
            return false;
        }
        QByteArrayView key;
        while (nextKey(key)) {
            if (!skipValue()) {
                return false;
            }
        }
        return !failed();
    }
    case Kind::Array:
        if (!enterArray()) {
            return false;
        }
        while (nextElement()) {
            if (!skipValue()) {
                return false;
            }
        }
        return !failed();
    case Kind::String: {
        SkipSink sink;
        return scanString(sink);
    }
    case Kind::Number: {
        Number number;
        return readNumber(number);
    }
    case Kind::True:
    case Kind::False:
    case Kind::Null:
        break;
    }
    return readLiteral(kind);
}

bool JsonReader::finish()
{
    if (failed()) {
        return false;
    }
    if (skipWhitespace()) {
        return fail("unexpected text after the end of the document", m_pos);
    }
    return true;
}

bool JsonReader::fail(const char* problem, const char* at)
{
    if (m_problem == nullptr) {
        m_problem = problem;
        m_problemOffset = std::min<qsizetype>(at - m_begin + 1, m_end - m_begin);
    }
    m_pos = m_end;
    m_fresh = false;
    return false;
}

bool JsonReader::failAtEnd()
{
    if (m_depth == 0) {
        return fail("expected a value", m_end);
    }
    return fail((m_objects & 1) != 0 ? "unterminated object" : "unterminated array", m_end);
}

bool JsonReader::failTooDeep()
{
    static_assert(maxDepth == 64, "the description names the limit");
    return fail("nested more than 64 levels deep", m_pos);
}

bool JsonReader::failLiteral(const char* word, qsizetype length)
{
    const char* p = m_pos;
    for (qsizetype i = 0; i < length; ++i, ++p) {
        if (p == m_end) {
            return failAtEnd();
        }
        if (*p != word[i]) {
            break;
        }
    }
    return fail("expected true, false or null", p);
}
