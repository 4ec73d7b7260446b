#include "updates/RichText.h"

#include "model/ControlCharacters.h"

#include <QColor>
#include <QFontDatabase>
#include <QList>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

#include <algorithm>

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

qsizetype markdownMarks(QStringView line)
{
    return std::count_if(line.begin(), line.end(),
                         [](QChar c) { return c == u'*' || c == u'_' || c == u'~' || c == u'[' || c == u']'; });
}

int markdownNesting(QStringView line)
{
    int depth = 0;
    qsizetype i = 0;
    const auto isBlank = [&](qsizetype at) { return at >= line.size() || line[at].isSpace(); };
    const auto isDigit = [&](qsizetype at) { return at < line.size() && line[at] >= u'0' && line[at] <= u'9'; };
    while (i < line.size()) {
        if (line[i] == u' ' || line[i] == u'\t') {
            ++i;
        } else if (line[i] == u'>') {
            ++depth;
            ++i;
        } else if ((line[i] == u'-' || line[i] == u'+' || line[i] == u'*') && isBlank(i + 1)) {
            ++depth;
            ++i;
        } else if (isDigit(i)) {
            qsizetype end = i;
            while (isDigit(end)) {
                ++end;
            }
            if (end == line.size() || (line[end] != u'.' && line[end] != u')') || !isBlank(end + 1)) {
                break;
            }
            ++depth;
            i = end + 1;
        } else {
            break;
        }
    }
    return depth;
}

NoticeParts splitForMarkdown(const QString& text)
{
    qsizetype marks = 0;
    qsizetype end = 0; // of the Markdown part
    while (end < text.size()) {
        const qsizetype newline = text.indexOf(u'\n', end);
        const qsizetype next = newline < 0 ? text.size() : newline + 1;
        const QStringView line = QStringView(text).mid(end, next - end);
        const int nesting = markdownNesting(line);
        marks += markdownMarks(line) + nesting; // each list item and quote level is laid out as a block of its own
        if (next > MarkdownBudget::maxCharacters || marks > MarkdownBudget::maxMarks ||
            nesting > MarkdownBudget::maxNesting) {
            break;
        }
        end = next;
    }
    return {text.left(end), text.mid(end)};
}

namespace {
// Link texts lose their bidirectional controls; the link stays as it was.
void dropBidiControlsFromLinks(QTextDocument& document)
{
    QList<QTextFragment> links;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid() && !fragment.charFormat().anchorHref().isEmpty() &&
                withoutBidiControls(fragment.text()) != fragment.text()) {
                links.append(fragment);
            }
        }
    }
    // From the last, so that the positions before it stay where they were.
    for (auto it = links.crbegin(); it != links.crend(); ++it) {
        QTextCursor cursor(&document);
        cursor.setPosition(it->position());
        cursor.setPosition(it->position() + it->length(), QTextCursor::KeepAnchor);
        cursor.insertText(withoutBidiControls(it->text()), it->charFormat());
    }
}
} // namespace

RichText richTextFromMarkdown(const QString& markdown)
{
    NoticeParts parts = splitForMarkdown(markdown);
    const qsizetype room = MarkdownBudget::maxShownCharacters - parts.markdown.size();
    if (parts.plain.size() > room) {
        const qsizetype cut = room > 0 && parts.plain.at(room - 1).isHighSurrogate() ? room - 1 : room;
        const qsizetype left = parts.plain.size() - cut;
        parts.plain =
            parts.plain.left(cut) + QStringLiteral("…\n\n(%1 more characters of this notice are not shown.)").arg(left);
    }
    QTextDocument document;
    document.setMarkdown(parts.markdown, QTextDocument::MarkdownNoHTML);
    if (!parts.plain.isEmpty()) {
        QTextCursor cursor(&document);
        cursor.movePosition(QTextCursor::End);
        if (!parts.markdown.isEmpty()) {
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        }
        cursor.insertText(parts.plain, QTextCharFormat());
    }
    replaceImagesWithText(document);
    dropBidiControlsFromLinks(document);

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
