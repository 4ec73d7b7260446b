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
// drawn blue with a single underline, so it reads as a link whatever the palette says.
RichText richTextFromMarkdown(const QString& markdown);

// Merges `style` into every fragment of `document` whose format `isLink` accepts.
void styleLinks(QTextDocument& document, const QTextCharFormat& style,
                const std::function<bool(const QTextCharFormat&)>& isLink);
