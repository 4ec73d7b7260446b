#pragma once

#include <QString>

// A notice ready to show: the HTML of a styled QTextDocument, which a QLabel or QTextBrowser displays with its
// links, emphasis and block structure.
struct RichText {
    QString html;

    friend bool operator==(const RichText&, const RichText&) = default;
};

// Renders CommonMark into rich text. Inline HTML in the source is shown as text, never interpreted. Every link is
// drawn blue with a single underline, so it reads as a link whatever the palette says.
RichText richTextFromMarkdown(const QString& markdown);
