#include "updates/Linkify.h"

#include <QList>
#include <QRegularExpression>

#include <algorithm>

// Finding links and bracketed domains is done by hand rather than with patterns: a backtracking pattern looks for
// the closing bracket or parenthesis again from every "[", which made a long line of unclosed brackets take
// quadratic time. Here each stop character is looked for once per stretch of text, so a whole notice takes linear
// time however it is written.

namespace {
struct Range {
    qsizetype start = 0;
    qsizetype end = 0;
};

// The first position at or after `from` holding one of the stop characters, or the text's size when there is none.
// It remembers its last answer: asked again from a position inside the stretch it has already scanned, it answers
// without scanning again, so positions asked in rising order cost one pass over the text in all.
template <typename IsStop> class NextStop
{
public:
    NextStop(QStringView text, IsStop isStop)
        : m_text(text)
        , m_isStop(isStop)
    {}

    qsizetype from(qsizetype from)
    {
        if (from >= m_scannedFrom && from <= m_found) {
            return m_found;
        }
        m_scannedFrom = from;
        m_found = from;
        while (m_found < m_text.size() && !m_isStop(m_text[m_found])) {
            ++m_found;
        }
        return m_found;
    }

private:
    QStringView m_text;
    IsStop m_isStop;
    qsizetype m_scannedFrom = -1;
    qsizetype m_found = -1;
};

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiLetterOrDigit(QChar c)
{
    return isAsciiLetter(c) || (c >= u'0' && c <= u'9');
}

// Links the notice already spells out in Markdown: an inline link "[text](target)", whose target runs to the first
// ")" on its line (which covers an optional title); a reference link "[text][ref]"; and a reference definition, a
// line "[ref]: target" indented by at most three spaces; and an autolink "<scheme:address>". Link text may hold one
// level of brackets.
class LinkScanner
{
public:
    explicit LinkScanner(QStringView text)
        : m_text(text)
    {}

    QList<Range> links()
    {
        QList<Range> found;
        const qsizetype size = m_text.size();
        qsizetype i = 0;
        while (i < size) {
            const bool lineStart = i == 0 || m_text[i - 1] == u'\n';
            qsizetype end = m_text[i] == u'[' ? inlineOrReferenceLink(i) : m_text[i] == u'<' ? autolink(i) : -1;
            if (end < 0 && lineStart) {
                end = referenceDefinition(i);
            }
            if (end > i) {
                found.append({i, end});
                i = end;
            } else {
                ++i;
            }
        }
        return found;
    }

private:
    QChar at(qsizetype i) const { return i < m_text.size() ? m_text[i] : QChar(); }

    // The end of the link whose "[" is at `open`, or -1.
    qsizetype inlineOrReferenceLink(qsizetype open)
    {
        // The text: anything but brackets, and whole bracketed pieces with no brackets inside.
        qsizetype i = open + 1;
        for (;;) {
            i = m_bracket.from(i);
            if (i >= m_text.size()) {
                return -1;
            }
            if (m_text[i] == u']') {
                break;
            }
            const qsizetype inner = m_bracket.from(i + 1);
            if (inner >= m_text.size() || m_text[inner] != u']') {
                return -1;
            }
            i = inner + 1;
        }
        const qsizetype afterText = i + 1;
        if (at(afterText) == u'(') {
            const qsizetype close = m_parenthesisOrNewline.from(afterText + 1);
            return at(close) == u')' ? close + 1 : -1;
        }
        if (at(afterText) == u'[') {
            const qsizetype close = m_bracketOrNewline.from(afterText + 1);
            return at(close) == u']' ? close + 1 : -1;
        }
        return -1;
    }

    // The end of the autolink whose "<" is at `open`, or -1: a scheme of 2 to 32 characters (a letter, then
    // letters, digits, "+", "." or "-"), a colon, and anything but spaces, controls and angle brackets up to ">".
    qsizetype autolink(qsizetype open)
    {
        if (!isAsciiLetter(at(open + 1))) {
            return -1;
        }
        qsizetype i = open + 2;
        while (i - open - 1 < maxSchemeLength &&
               (isAsciiLetterOrDigit(at(i)) || at(i) == u'+' || at(i) == u'.' || at(i) == u'-')) {
            ++i;
        }
        if (i - open - 1 < 2 || at(i) != u':') {
            return -1;
        }
        const qsizetype close = m_autolinkStop.from(i + 1);
        return at(close) == u'>' ? close + 1 : -1;
    }

    // The end of the reference definition on the line starting at `lineStart` (before its newline), or -1.
    qsizetype referenceDefinition(qsizetype lineStart)
    {
        qsizetype i = lineStart;
        while (i < lineStart + 3 && at(i) == u' ') {
            ++i;
        }
        if (at(i) != u'[') {
            return -1;
        }
        const qsizetype close = m_bracketOrNewline.from(i + 1);
        if (close == i + 1 || at(close) != u']' || at(close + 1) != u':') {
            return -1;
        }
        return m_newline.from(close + 2);
    }

    static bool isBracket(QChar c) { return c == u'[' || c == u']'; }
    static bool isBracketOrNewline(QChar c) { return isBracket(c) || c == u'\n'; }
    static bool isParenthesisOrNewline(QChar c) { return c == u')' || c == u'\n'; }
    static bool isNewline(QChar c) { return c == u'\n'; }
    static bool isAutolinkStop(QChar c) { return c.unicode() <= 0x20 || c == u'<' || c == u'>' || c.unicode() == 0x7f; }

    static constexpr qsizetype maxSchemeLength = 32;

    QStringView m_text;
    NextStop<bool (*)(QChar)> m_bracket{m_text, &isBracket};
    NextStop<bool (*)(QChar)> m_bracketOrNewline{m_text, &isBracketOrNewline};
    NextStop<bool (*)(QChar)> m_parenthesisOrNewline{m_text, &isParenthesisOrNewline};
    NextStop<bool (*)(QChar)> m_newline{m_text, &isNewline};
    NextStop<bool (*)(QChar)> m_autolinkStop{m_text, &isAutolinkStop};
};

// "[name.tld…]" not followed by "(": a letter or digit, letters, digits and hyphens, a full stop, at least two
// letters, then anything up to the first "]". The ranges cover the brackets.
QList<Range> bracketedDomains(QStringView text)
{
    QList<Range> found;
    NextStop closing(text, [](QChar c) { return c == u']'; });
    const qsizetype size = text.size();
    const auto at = [&](qsizetype i) { return i < size ? text[i] : QChar(); };
    qsizetype i = 0;
    while (i < size) {
        if (text[i] != u'[' || !isAsciiLetterOrDigit(at(i + 1))) {
            ++i;
            continue;
        }
        qsizetype j = i + 2;
        while (isAsciiLetterOrDigit(at(j)) || at(j) == u'-') {
            ++j;
        }
        if (at(j) != u'.' || !isAsciiLetter(at(j + 1)) || !isAsciiLetter(at(j + 2))) {
            ++i;
            continue;
        }
        const qsizetype close = closing.from(j + 3);
        if (close >= size || at(close + 1) == u'(') {
            ++i;
            continue;
        }
        found.append({i, close + 1});
        i = close + 1;
    }
    return found;
}

// Unicode properties make \s and \b mean what they mean to ICU: a no-break space ends an address, as a space does.
// The pattern cannot backtrack far: the address runs greedily to its first stop and nothing follows it.
QList<Range> bareAddresses(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral(R"re((?<!\()(?<!\])\bhttps?://[^\s\)>]+)re"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    QList<Range> found;
    for (auto it = pattern.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        found.append({match.capturedStart(), match.capturedEnd()});
    }
    return found;
}

// The links come in text order and never overlap, so only the first one that ends after `start` can overlap: a
// binary search, not a pass over every link for every match.
bool overlapsAny(const QList<Range>& ranges, qsizetype start, qsizetype end)
{
    const auto first = std::upper_bound(ranges.cbegin(), ranges.cend(), start,
                                        [](qsizetype position, const Range& range) { return position < range.end; });
    return first != ranges.cend() && end > first->start;
}

// Copies the text with each match outside the existing links rewritten, in one pass: replacing in place would move
// the rest of the text once per match.
template <typename Rewrite>
QString rewriteOutsideLinks(const QString& text, const QList<Range>& matches, Rewrite rewrite)
{
    if (matches.isEmpty()) {
        return text;
    }
    const QList<Range> links = LinkScanner(text).links();
    QString result;
    qsizetype copied = 0; // the text before this position is in the result
    bool rewritten = false;
    for (const Range& match : matches) {
        if (!overlapsAny(links, match.start, match.end)) {
            result += QStringView(text).sliced(copied, match.start - copied);
            result += rewrite(QStringView(text).sliced(match.start, match.end - match.start));
            copied = match.end;
            rewritten = true;
        }
    }
    if (!rewritten) {
        return text;
    }
    result += QStringView(text).sliced(copied);
    return result;
}
} // namespace

QString linkify(const QString& text)
{
    const QString withDomains = rewriteOutsideLinks(text, bracketedDomains(text), [](QStringView bracketed) {
        const QString inner = bracketed.sliced(1, bracketed.size() - 2).toString();
        const QString target = inner.startsWith(QLatin1String("http")) ? inner : QStringLiteral("https://") + inner;
        return QLatin1Char('[') + inner + QLatin1String("](") + target + QLatin1Char(')');
    });
    return rewriteOutsideLinks(withDomains, bareAddresses(withDomains), [](QStringView view) {
        const QString address = view.toString();
        return QLatin1Char('[') + address + QLatin1String("](") + address + QLatin1Char(')');
    });
}
