#include "updates/Linkify.h"

#include <QList>
#include <QRegularExpression>

#include <algorithm>

namespace {
struct Range {
    qsizetype start = 0;
    qsizetype end = 0;
};

// Unicode properties make \s and \b mean what they mean to ICU: a no-break space ends an address, as a space does.
constexpr auto patternOptions = QRegularExpression::UseUnicodePropertiesOption;

const QRegularExpression& bracketedDomain()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"re(\[([a-zA-Z0-9][a-zA-Z0-9\-]*\.[a-zA-Z]{2,}[^\]]*)\](?!\())re"), patternOptions);
    return pattern;
}

const QRegularExpression& bareAddress()
{
    static const QRegularExpression pattern(QStringLiteral(R"re((?<!\()(?<!\])\bhttps?://[^\s\)>]+)re"),
                                            patternOptions);
    return pattern;
}

// Links the notice already spells out in Markdown. Link text may hold one level of brackets; an inline target
// runs to the first ")" on its line, which covers an optional title.
const QRegularExpression& existingLink()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"re(\[(?:[^\[\]]|\[[^\[\]]*\])*\](?:\([^)\n]*\)|\[[^\[\]\n]*\]))re"
                       R"re(|(?m:^ {0,3}\[[^\[\]\n]+\]:[^\n]*))re"),
        patternOptions);
    return pattern;
}

QList<Range> existingLinks(const QString& text)
{
    QList<Range> links;
    for (auto it = existingLink().globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        links.append({match.capturedStart(), match.capturedEnd()});
    }
    return links;
}

// The links come in text order and never overlap, so only the first one that ends after `start` can overlap: a
// binary search, not a pass over every link for every match, which made a long notice take quadratic time.
bool overlapsAny(const QList<Range>& ranges, qsizetype start, qsizetype end)
{
    const auto first = std::upper_bound(ranges.cbegin(), ranges.cend(), start,
                                        [](qsizetype position, const Range& range) { return position < range.end; });
    return first != ranges.cend() && end > first->start;
}

// Copies the text with each match outside the existing links rewritten, in one pass: replacing in place moved the
// rest of the text once per match, quadratic in a long notice.
template <typename Rewrite>
QString rewriteMatches(const QString& text, const QRegularExpression& pattern, Rewrite rewrite)
{
    if (!pattern.isValid()) {
        return text;
    }
    const QList<Range> links = existingLinks(text);
    QString result;
    qsizetype copied = 0; // the text before this position is in the result
    bool rewritten = false;
    for (auto it = pattern.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (!overlapsAny(links, match.capturedStart(), match.capturedEnd())) {
            result += QStringView(text).sliced(copied, match.capturedStart() - copied);
            result += rewrite(match);
            copied = match.capturedEnd();
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
    const QString withDomains = rewriteMatches(text, bracketedDomain(), [](const QRegularExpressionMatch& match) {
        const QString inner = match.captured(1);
        const QString target = inner.startsWith(QLatin1String("http")) ? inner : QStringLiteral("https://") + inner;
        return QLatin1Char('[') + inner + QLatin1String("](") + target + QLatin1Char(')');
    });
    return rewriteMatches(withDomains, bareAddress(), [](const QRegularExpressionMatch& match) {
        const QString address = match.captured(0);
        return QLatin1Char('[') + address + QLatin1String("](") + address + QLatin1Char(')');
    });
}
