#pragma once

#include <QString>

#include <functional>

class QTextCharFormat;
class QTextDocument;

// A notice ready to show: the HTML of a styled QTextDocument, which a QLabel or QTextBrowser displays with its
// links, emphasis and block structure.
struct RichText {
    QString html;

    friend bool operator==(const RichText&, const RichText&) = default;
};

// How much of a notice goes to the Markdown reader. Qt's reader takes time that grows with the square of the
// emphasis markers and brackets it is given and of the depth of nested lists: 32,768 "*a" in a row held it for
// minutes. So it reads the notice's first lines within these bounds, and the rest follows as plain text. A real
// notice, a few lines long, never comes near them.
struct MarkdownBudget {
    static constexpr qsizetype maxCharacters = 16 * 1024;
    static constexpr qsizetype maxMarks = 512; // "*", "_", "~", "[", "]", quote and list markers in all
    static constexpr int maxNesting = 8;       // quote and list markers opening one line
    // What is shown in all: laying out a label takes about 3 ms a KiB, and a notice's alert is laid out afresh at
    // every resize. The rest is cut, and a line says how much.
    static constexpr qsizetype maxShownCharacters = 32 * 1024;
};

// A notice cut at the end of the last line within the budget: `markdown` for the reader, `plain` to show as it is.
struct NoticeParts {
    QString markdown;
    QString plain;
};
NoticeParts splitForMarkdown(const QString& text);

// The marks and the nesting one line brings to the reader, as the budget counts them.
qsizetype markdownMarks(QStringView line);
int markdownNesting(QStringView line);

// Renders CommonMark into rich text, the part within MarkdownBudget as Markdown and the rest as plain text, so in
// time that grows with the notice's length alone. Inline HTML in the source is shown as text, never interpreted.
// Every link is drawn blue with a single underline, so it reads as a link whatever the palette says, and its text
// loses any bidirectional control, which could make "exe.doc" read "cod.exe". Images show as their alternative
// text: a notice comes from the network and makes the program load nothing, local or remote. Inline code is set in
// the desktop's fixed-width font.
RichText richTextFromMarkdown(const QString& markdown);

// Replaces every image of `document` with its alternative text, so that showing it never loads a resource.
void replaceImagesWithText(QTextDocument& document);

// Merges `style` into every fragment of `document` whose format `isLink` accepts.
void styleLinks(QTextDocument& document, const QTextCharFormat& style,
                const std::function<bool(const QTextCharFormat&)>& isLink);
