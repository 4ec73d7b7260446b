#include "updates/RichText.h"

#include <QColor>
#include <QFontDatabase>
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

void replaceImagesWithText(QTextDocument& document)
{
    // Each image is one character; its alternative text takes its place, in the format around it (a linked image
    // stays a link).
    QList<std::pair<int, QTextCharFormat>> images;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid() && fragment.charFormat().isImageFormat()) {
                for (int i = 0; i < fragment.length(); ++i) {
                    images.append({fragment.position() + i, fragment.charFormat()});
                }
            }
        }
    }
    // From the last, so that the positions before it stay where they were.
    for (auto it = images.crbegin(); it != images.crend(); ++it) {
        const auto& [position, image] = *it;
        const QString alternative = image.stringProperty(QTextFormat::ImageAltText);
        QTextCharFormat text = image;
        text.setObjectType(QTextFormat::NoObject);
        for (const int property : {QTextFormat::ImageName, QTextFormat::ImageAltText, QTextFormat::ImageTitle,
                                   QTextFormat::ImageWidth, QTextFormat::ImageHeight, QTextFormat::ImageQuality}) {
            text.clearProperty(property);
        }
        QTextCursor cursor(&document);
        cursor.setPosition(position);
        cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        cursor.insertText(alternative, text);
    }
}

RichText richTextFromMarkdown(const QString& markdown)
{
    QTextDocument document;
    document.setMarkdown(markdown, QTextDocument::MarkdownNoHTML);
    replaceImagesWithText(document);

    // The reader marks code as fixed-pitch; the desktop's own fixed-width font is named so that the HTML carries
    // it, with the generic family behind it for a desktop that lacks it.
    QTextCharFormat codeStyle;
    QStringList fixedFamilies{QFontDatabase::systemFont(QFontDatabase::FixedFont).family(),
                              QStringLiteral("monospace")};
    fixedFamilies.removeDuplicates();
    codeStyle.setFontFamilies(fixedFamilies);
    codeStyle.setFontFixedPitch(true);
    styleLinks(document, codeStyle, [](const QTextCharFormat& format) { return format.fontFixedPitch(); });

    QTextCharFormat linkStyle;
    linkStyle.setForeground(QColor(Qt::blue));
    linkStyle.setUnderlineStyle(QTextCharFormat::SingleUnderline);
    styleLinks(document, linkStyle, [](const QTextCharFormat& format) { return !format.anchorHref().isEmpty(); });
    return RichText{document.toHtml()};
}
