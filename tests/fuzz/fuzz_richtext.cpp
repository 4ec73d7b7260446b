// Feeds arbitrary text to the notice's whole rendering path (linkify, then Markdown under its budget): it must never
// crash or hang, the Markdown reader must be given no more than the budget, nothing of the notice may be lost on the
// way to it, and no link text may keep a bidirectional control.
#include "model/ControlCharacters.h"
#include "updates/Linkify.h"
#include "updates/RichText.h"

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(*argc, *argv); // fonts, for the text document
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString notice = linkify(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    const NoticeParts parts = splitForMarkdown(notice);
    if (parts.markdown + parts.plain != notice || parts.markdown.size() > MarkdownBudget::maxCharacters) {
        std::abort();
    }
    qsizetype marks = 0;
    for (const QStringView line : QStringView(parts.markdown).split(u'\n')) {
        marks += markdownMarks(line) + markdownNesting(line);
        if (markdownNesting(line) > MarkdownBudget::maxNesting) {
            std::abort();
        }
    }
    if (marks > MarkdownBudget::maxMarks) {
        std::abort();
    }

    QTextDocument document;
    document.setHtml(richTextFromMarkdown(notice).html);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isAnchor() && withoutBidiControls(fragment.text()) != fragment.text()) {
                std::abort();
            }
        }
    }
    return 0;
}
