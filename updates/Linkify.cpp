#include "updates/Linkify.h"

#include <QList>
#include <QRegularExpression>

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

bool overlapsAny(const QList<Range>& ranges, qsizetype start, qsizetype end)
{
    return std::any_of(ranges.cbegin(), ranges.cend(),
                       [&](const Range& range) { return start < range.end && end > range.start; });
}

// Collects the matches first and rewrites from the last to the first, so every earlier position stays valid.
template <typename Rewrite>
QString rewriteMatches(const QString& text, const QRegularExpression& pattern, Rewrite rewrite)
{
    if (!pattern.isValid()) {
        return text;
    }
    const QList<Range> links = existingLinks(text);
    QList<QRegularExpressionMatch> matches;
    for (auto it = pattern.globalMatch(text); it.hasNext();) {
        QRegularExpressionMatch match = it.next();
        if (!overlapsAny(links, match.capturedStart(), match.capturedEnd())) {
            matches.append(std::move(match));
        }
    }
    QString result = text;
    for (auto it = matches.crbegin(); it != matches.crend(); ++it) {
        result.replace(it->capturedStart(), it->capturedLength(), rewrite(*it));
    }
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
