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

// Renders CommonMark into rich text. Inline HTML in the source is shown as text, never interpreted. Every link is
// drawn blue with a single underline, so it reads as a link whatever the palette says. Images show as their
// alternative text: a notice comes from the network and makes the program load nothing, local or remote. Inline code is
// set in the desktop's fixed-width font.
RichText richTextFromMarkdown(const QString& markdown);

// Replaces every image of `document` with its alternative text, so that showing it never loads a resource.
void replaceImagesWithText(QTextDocument& document);

// Merges `style` into every fragment of `document` whose format `isLink` accepts.
void styleLinks(QTextDocument& document, const QTextCharFormat& style,
                const std::function<bool(const QTextCharFormat&)>& isLink);
