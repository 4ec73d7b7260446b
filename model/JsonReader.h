#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstring>
#include <optional>

// A strict pull reader over one JSON text (RFC 8259) in UTF-8. It builds no tree: the caller looks at what comes
// next and takes it, descends into it, or skips it. Strings must be valid UTF-8 without raw control characters, and
// \u escapes must pair their surrogates. A leading byte order mark is allowed.
//
// The first problem stops the reader for good: every later call returns false, and the problem stays for the caller
// to report, with the offset of the byte the reader stopped at counted from 1 (the length of the text when the text
// ran out). Calls that return false for other reasons (the end of an object or array) are told apart by failed().
//
// Short strings that come again share one QString, as the words of an answer repeat from device to device.
class JsonReader
{
public:
    enum class Kind : quint8 { Object, Array, String, Number, True, False, Null };

    // A number as the text gives it: exact when the text is an integer that fits in 64 bits, otherwise the nearest
    // double; and whole whenever that double has no fraction and fits in 64 bits (22, 22.0, 2.2e1 alike).
    struct Number {
        std::optional<qint64> integer;
        double real = 0;
    };

    // Deep enough for any answer the cloud sends, shallow enough that hostile input cannot exhaust the stack.
    static constexpr int maxDepth = 64;

    // The text must outlive the reader.
    explicit JsonReader(QByteArrayView text);

    bool failed() const { return m_problem != nullptr; }
    QString problem() const { return QString::fromLatin1(m_problem); } // plain English: "unterminated string"
    qsizetype problemOffset() const { return m_problemOffset; }

    // Where the reader stands: the next byte to read, or the end of the text.
    const char* position() const { return m_pos; }

    // The kind of the value that comes next, after any whitespace. Fails when no value starts there.
    bool peek(Kind& kind);

    // Objects: enterObject() at a peeked Object, then nextKey() until it returns false at the closing brace. The
    // key's bytes are unescaped UTF-8 and last until the next call; the member's value must be read or skipped
    // before the next call.
    bool enterObject();
    bool nextKey(QByteArrayView& key);
    QString keyString(QByteArrayView key); // the key nextKey() just gave, as text

    // Arrays: enterArray() at a peeked Array, then nextElement() until it returns false at the closing bracket; each
    // element must be read or skipped before the next call.
    bool enterArray();
    bool nextElement();

    // Scalars, each at a value peeked as its kind.
    bool readString(QString& out);
    bool readNumber(Number& out);
    bool readLiteral(Kind kind); // true, false or null

    // Checks and steps over the next value, whatever it is.
    bool skipValue();

    // Only whitespace may follow the top-level value.
    bool finish();

private:
    // Printable ASCII but the quote and the backslash: the bytes a string holds as they are.
    static constexpr std::array<bool, 256> plainBytes = [] {
        std::array<bool, 256> plain{};
        for (int c = 0x20; c < 0x80; ++c) {
            plain[c] = c != '"' && c != '\\';
        }
        return plain;
    }();

    // The kind of value each byte starts, or -1.
    static constexpr std::array<qint8, 256> kindOfFirstByte = [] {
        std::array<qint8, 256> kinds{};
        kinds.fill(-1);
        kinds['{'] = static_cast<qint8>(Kind::Object);
        kinds['['] = static_cast<qint8>(Kind::Array);
        kinds['"'] = static_cast<qint8>(Kind::String);
        kinds['-'] = static_cast<qint8>(Kind::Number);
        for (char digit = '0'; digit <= '9'; ++digit) {
            kinds[static_cast<uchar>(digit)] = static_cast<qint8>(Kind::Number);
        }
        kinds['t'] = static_cast<qint8>(Kind::True);
        kinds['f'] = static_cast<qint8>(Kind::False);
        kinds['n'] = static_cast<qint8>(Kind::Null);
        return kinds;
    }();

    // A recently read short string, by its bytes in the text; the text outlives the reader.
    struct Recent {
        QByteArrayView bytes;
        QString string;
    };
    static constexpr qsizetype maxRecentLength = 32;

    bool skipWhitespace();
    QString plainString(QByteArrayView bytes);
    bool readKey(QByteArrayView& key);
    bool readKeySlow(QByteArrayView& key);
    bool readStringSlow(QString& out);
    bool readNumberSlow(Number& out);
    bool closeContainer();
    template <typename Sink> bool scanString(Sink& sink);
    bool fail(const char* problem, const char* at);
    bool failAtEnd();
    bool failTooDeep();
    bool failLiteral(const char* word, qsizetype length);

    const char* m_begin;
    const char* m_pos;
    const char* m_end;
    int m_depth = 0;
    quint64 m_objects = 0;   // one bit per open container, lowest for the innermost: set for an object
    bool m_fresh = false;    // just inside a container, before its first member or element
    bool m_plainKey = false; // the last key is printable ASCII without escapes, read straight from the text
    const char* m_problem = nullptr;
    qsizetype m_problemOffset = 0;
    QByteArray m_keyBuffer; // unescaped keys
    std::array<Recent, 64> m_recent;
};

inline bool JsonReader::skipWhitespace()
{
    while (m_pos != m_end) {
        const char c = *m_pos;
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t') {
            return true;
        }
        ++m_pos;
    }
    return false;
}

inline bool JsonReader::peek(Kind& kind)
{
    if (!skipWhitespace()) {
        return failAtEnd();
    }
    const qint8 found = kindOfFirstByte[static_cast<uchar>(*m_pos)];
    if (found < 0) {
        return fail("expected a value", m_pos);
    }
    kind = static_cast<Kind>(found);
    return true;
}

inline bool JsonReader::enterObject()
{
    if (m_depth >= maxDepth) {
        return failTooDeep();
    }
    ++m_depth;
    m_objects = (m_objects << 1) | 1;
    m_fresh = true;
    ++m_pos;
    return true;
}

inline bool JsonReader::enterArray()
{
    if (m_depth >= maxDepth) {
        return failTooDeep();
    }
    ++m_depth;
    m_objects <<= 1;
    m_fresh = true;
    ++m_pos;
    return true;
}

inline bool JsonReader::closeContainer()
{
    --m_depth;
    m_objects >>= 1;
    ++m_pos;
    return false;
}

inline bool JsonReader::nextKey(QByteArrayView& key)
{
    if (!skipWhitespace()) {
        return failAtEnd();
    }
    if (*m_pos == '}') {
        m_fresh = false;
        return closeContainer();
    }
    if (m_fresh) {
        m_fresh = false;
    } else {
        if (*m_pos != ',') {
            return fail("expected ',' or '}' after an object member", m_pos);
        }
        ++m_pos;
        if (!skipWhitespace()) {
            return failAtEnd();
        }
    }
    if (*m_pos != '"') {
        return fail("expected a key in double quotes", m_pos);
    }
    if (!readKey(key)) {
        return false;
    }
    if (!skipWhitespace()) {
        return failAtEnd();
    }
    if (*m_pos != ':') {
        return fail("expected ':' after a key", m_pos);
    }
    ++m_pos;
    return true;
}

inline bool JsonReader::nextElement()
{
    if (!skipWhitespace()) {
        return failAtEnd();
    }
    if (m_fresh) {
        m_fresh = false;
        if (*m_pos == ']') {
            return closeContainer();
        }
        return true;
    }
    if (*m_pos == ']') {
        return closeContainer();
    }
    if (*m_pos != ',') {
        return fail("expected ',' or ']' after an array element", m_pos);
    }
    ++m_pos;
    return true;
}

inline bool JsonReader::readKey(QByteArrayView& key)
{
    const char* start = m_pos + 1;
    const char* p = start;
    while (p != m_end && plainBytes[static_cast<uchar>(*p)]) {
        ++p;
    }
    if (p != m_end && *p == '"') {
        key = QByteArrayView(start, p - start);
        m_plainKey = true;
        m_pos = p + 1;
        return true;
    }
    m_plainKey = false;
    return readKeySlow(key);
}

inline QString JsonReader::keyString(QByteArrayView key)
{
    return m_plainKey ? plainString(key) : QString::fromUtf8(key);
}

// A string of printable ASCII without escapes.
inline QString JsonReader::plainString(QByteArrayView bytes)
{
    if (bytes.size() > maxRecentLength) {
        return QString::fromLatin1(bytes);
    }
    std::size_t hash = static_cast<std::size_t>(bytes.size());
    for (const char c : bytes) {
        hash = hash * 31 + static_cast<uchar>(c);
    }
    Recent& recent = m_recent[hash % m_recent.size()];
    // memcmp must not see the null pointer of a never-used slot or of an empty string, even for zero bytes.
    if (recent.bytes.size() != bytes.size() ||
        (!bytes.isEmpty() && std::memcmp(recent.bytes.data(), bytes.data(), bytes.size()) != 0)) {
        recent.bytes = bytes;
        recent.string = QString::fromLatin1(bytes);
    }
    return recent.string;
}

inline bool JsonReader::readString(QString& out)
{
    const char* start = m_pos + 1;
    const char* p = start;
    while (p != m_end && plainBytes[static_cast<uchar>(*p)]) {
        ++p;
    }
    if (p != m_end && *p == '"') {
        out = plainString(QByteArrayView(start, p - start));
        m_pos = p + 1;
        return true;
    }
    return readStringSlow(out);
}

// Most numbers in an answer are small whole ones: up to 18 digits, no sign, fraction or exponent.
inline bool JsonReader::readNumber(Number& out)
{
    const char* p = m_pos;
    quint64 value = 0;
    while (p != m_end && p - m_pos < 18 && *p >= '0' && *p <= '9') {
        value = value * 10 + static_cast<quint64>(*p - '0');
        ++p;
    }
    const qsizetype digits = p - m_pos;
    if (digits == 0 || p == m_end || (*m_pos == '0' && digits > 1)) {
        return readNumberSlow(out);
    }
    const char next = *p;
    if ((next >= '0' && next <= '9') || next == '.' || next == 'e' || next == 'E') {
        return readNumberSlow(out);
    }
    out.integer = static_cast<qint64>(value);
    out.real = static_cast<double>(value);
    m_pos = p;
    return true;
}

inline bool JsonReader::readLiteral(Kind kind)
{
    const char* word = kind == Kind::True ? "true" : kind == Kind::False ? "false" : "null";
    const qsizetype length = kind == Kind::False ? 5 : 4;
    if (m_end - m_pos >= length && std::memcmp(m_pos, word, length) == 0) {
        m_pos += length;
        return true;
    }
    return failLiteral(word, length);
}
