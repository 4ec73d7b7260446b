#pragma once

// The rules of linkify written as regular expressions, for the tests and the fuzzer to hold the hand-written scan
// against. Links already written in Markdown (autolinks included) are found by the last pattern; only matches outside
// them are rewritten.

#include <QList>
#include <QRegularExpression>
#include <QString>

#include <algorithm>

// The same rules written as regular expressions: clear to read, but quadratic on long lines of unclosed brackets.
// linkify must give exactly what they give.
inline QString linkifyWithPatterns(const QString& text)
{
    constexpr auto options = QRegularExpression::UseUnicodePropertiesOption;
    static const QRegularExpression domain(
        QStringLiteral(R"re(\[([a-zA-Z0-9][a-zA-Z0-9\-]*\.[a-zA-Z]{2,}[^\]]*)\](?!\())re"), options);
    static const QRegularExpression address(QStringLiteral(R"re((?<!\()(?<!\])\bhttps?://[^\s\)>]+)re"), options);
    static const QRegularExpression link(
        QStringLiteral(R"re(\[(?:[^\[\]]|\[[^\[\]]*\])*\](?:\([^)\n]*\)|\[[^\[\]\n]*\]))re"
                       R"re(|(?m:^ {0,3}\[[^\[\]\n]+\]:[^\n]*))re"
                       R"re(|<[a-zA-Z][a-zA-Z0-9+.\-]{1,31}:[^\x00-\x20<>\x7f]*>)re"),
        options);
    const auto rewrite = [](const QString& in, const QRegularExpression& pattern, auto replacement) {
        QList<QRegularExpressionMatch> links;
        for (auto it = link.globalMatch(in); it.hasNext();) {
            links.append(it.next());
        }
        QString out;
        qsizetype copied = 0;
        for (auto it = pattern.globalMatch(in); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            const bool inLink = std::any_of(links.cbegin(), links.cend(), [&](const QRegularExpressionMatch& l) {
                return match.capturedStart() < l.capturedEnd() && l.capturedStart() < match.capturedEnd();
            });
            if (!inLink) {
                out += in.mid(copied, match.capturedStart() - copied) + replacement(match);
                copied = match.capturedEnd();
            }
        }
        return out + in.mid(copied);
    };
    const QString withDomains = rewrite(text, domain, [](const QRegularExpressionMatch& match) {
        const QString inner = match.captured(1);
        const QString target = inner.startsWith(QLatin1String("http")) ? inner : QStringLiteral("https://") + inner;
        return QLatin1Char('[') + inner + QLatin1String("](") + target + QLatin1Char(')');
    });
    return rewrite(withDomains, address, [](const QRegularExpressionMatch& match) {
        return QLatin1Char('[') + match.captured(0) + QLatin1String("](") + match.captured(0) + QLatin1Char(')');
    });
}
