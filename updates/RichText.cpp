#include "updates/RichText.h"

#include <QColor>
#include <QList>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace {
struct Span {
    int position = 0;
    int length = 0;
};

QList<Span> linkSpans(const QTextDocument& document)
{
    QList<Span> spans;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid() && !fragment.charFormat().anchorHref().isEmpty()) {
                spans.append({fragment.position(), fragment.length()});
            }
        }
    }
    return spans;
}
} // namespace

RichText richTextFromMarkdown(const QString& markdown)
{
    QTextDocument document;
    document.setMarkdown(markdown, QTextDocument::MarkdownNoHTML);

    QTextCharFormat linkStyle;
    linkStyle.setForeground(QColor(Qt::blue));
    linkStyle.setUnderlineStyle(QTextCharFormat::SingleUnderline);
    // Styling merges and splits fragments, so the links are found before any is touched.
    for (const Span& span : linkSpans(document)) {
        QTextCursor cursor(&document);
        cursor.setPosition(span.position);
        cursor.setPosition(span.position + span.length, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(linkStyle);
    }
    return RichText{document.toHtml()};
}
