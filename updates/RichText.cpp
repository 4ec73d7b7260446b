#include "updates/RichText.h"

#include <QColor>
#include <QList>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

void styleLinks(QTextDocument& document, const QTextCharFormat& style,
                const std::function<bool(const QTextCharFormat&)>& isLink)
{
    // Styling merges and splits fragments, so the links are all found before any is touched.
    QList<std::pair<int, int>> spans; // position, length
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid() && isLink(fragment.charFormat())) {
                spans.append({fragment.position(), fragment.length()});
            }
        }
    }
    for (const auto& [position, length] : spans) {
        QTextCursor cursor(&document);
        cursor.setPosition(position);
        cursor.setPosition(position + length, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(style);
    }
}

RichText richTextFromMarkdown(const QString& markdown)
{
    QTextDocument document;
    document.setMarkdown(markdown, QTextDocument::MarkdownNoHTML);

    QTextCharFormat linkStyle;
    linkStyle.setForeground(QColor(Qt::blue));
    linkStyle.setUnderlineStyle(QTextCharFormat::SingleUnderline);
    styleLinks(document, linkStyle, [](const QTextCharFormat& format) { return !format.anchorHref().isEmpty(); });
    return RichText{document.toHtml()};
}
