#include "model/ControlCharacters.h"

namespace {
// Calls `visit` with each code point of `text` and the stretch of text it takes.
template <typename Visit> void forEachCodePoint(const QString& text, Visit visit)
{
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        const char32_t c = length == 2 ? QChar::surrogateToUcs4(text[i], text[i + 1]) : text[i].unicode();
        visit(c, QStringView(text).mid(i, length));
        i += length;
    }
}
} // namespace

bool isBidiControl(char32_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool isControlCharacter(char32_t c)
{
    return c <= 0x1F || (c >= 0x7F && c <= 0x9F);
}

QString withoutBidiControls(const QString& text)
{
    QString kept;
    kept.reserve(text.size());
    forEachCodePoint(text, [&](char32_t c, QStringView characters) {
        if (!isBidiControl(c)) {
            kept += characters;
        }
    });
    return kept;
}

QString escapedForTerminal(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    forEachCodePoint(text, [&](char32_t c, QStringView characters) {
        if (isControlCharacter(c)) {
            escaped += QStringLiteral("\\x") + QString::number(uint(c), 16).toUpper().rightJustified(2, u'0');
        } else if (isBidiControl(c)) {
            escaped += QStringLiteral("\\u") + QString::number(uint(c), 16).toUpper().rightJustified(4, u'0');
        } else {
            escaped += characters;
        }
    });
    return escaped;
}
