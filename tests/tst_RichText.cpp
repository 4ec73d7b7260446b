#include "updates/RichText.h"

#include <QColor>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextList>

namespace {
struct Run {
    QString text;
    QTextCharFormat format;
};

// Reads the rich text back the way a QLabel or QTextBrowser does, as runs of equally formatted text.
QList<Run> runsOf(const RichText& richText)
{
    QTextDocument document;
    document.setHtml(richText.html);
    QList<Run> runs;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            runs.append({it.fragment().text(), it.fragment().charFormat()});
        }
    }
    return runs;
}

QString plainTextOf(const RichText& richText)
{
    QTextDocument document;
    document.setHtml(richText.html);
    return document.toPlainText();
}
} // namespace

class tst_RichText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linksAreBlueAndUnderlinedAndNothingElseIs();
    void markdownStructureSurvives();
    void inlineHtmlIsShownAsText();
};

void tst_RichText::linksAreBlueAndUnderlinedAndNothingElseIs()
{
    // Qt's Markdown reader colours links with the palette's link colour, and an HTML reader underlines every <a>
    // it reads back. So the styling is read from the HTML itself, under a palette whose links are red.
    QPalette palette = QGuiApplication::palette();
    palette.setColor(QPalette::Link, Qt::red);
    QGuiApplication::setPalette(palette);

    const RichText rich =
        richTextFromMarkdown(QStringLiteral("Kelvo 2 is **out**: [download](https://example.com/get) or "
                                            "[https://example.com/notes](https://example.com/notes)."));

    static const QRegularExpression anchor(
        QStringLiteral(R"re(<a href="([^"]*)"><span style="([^"]*)">([^<]*)</span></a>)re"));
    QStringList links;
    for (auto it = anchor.globalMatch(rich.html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString style = match.captured(2);
        links.append(match.captured(3) + QStringLiteral(" -> ") + match.captured(1));
        QVERIFY2(style.contains(QLatin1String("color:#0000ff;")), qPrintable(style));
        QVERIFY2(style.contains(QLatin1String("text-decoration: underline;")), qPrintable(style));
    }
    QCOMPARE(links, (QStringList{QStringLiteral("download -> https://example.com/get"),
                                 QStringLiteral("https://example.com/notes -> https://example.com/notes")}));

    // Only the links: the rest keeps the parser's own look.
    for (const Run& run : runsOf(rich)) {
        if (run.format.anchorHref().isEmpty()) {
            QVERIFY2(run.format.foreground().color() != QColor(Qt::blue), qPrintable(run.text));
            QCOMPARE(run.format.underlineStyle(), QTextCharFormat::NoUnderline);
        }
    }
    QGuiApplication::setPalette(QPalette());
}

void tst_RichText::markdownStructureSurvives()
{
    const RichText rich = richTextFromMarkdown(QStringLiteral("# Kelvo 2\n\nWhat's *new*:\n\n- faster\n- `quieter`\n"));
    QTextDocument document;
    document.setHtml(rich.html);

    QTextBlock block = document.begin();
    QCOMPARE(block.text(), QStringLiteral("Kelvo 2"));
    QCOMPARE(block.blockFormat().headingLevel(), 1);
    block = block.next();
    QCOMPARE(block.text(), QStringLiteral("What's new:"));
    block = block.next();
    QCOMPARE(block.text(), QStringLiteral("faster"));
    QVERIFY(block.textList());
    block = block.next();
    QCOMPARE(block.text(), QStringLiteral("quieter"));
    QVERIFY(block.textList());

    QMap<QString, QTextCharFormat> formats;
    for (const Run& run : runsOf(rich)) {
        formats.insert(run.text, run.format);
    }
    QVERIFY(formats.value(QStringLiteral("new")).fontItalic());
    QVERIFY(!formats.value(QStringLiteral("What's ")).fontItalic());
    // Inline code is set in the fixed-pitch font, unlike the list item above it.
    QVERIFY(formats.value(QStringLiteral("quieter")).fontFamilies() !=
            formats.value(QStringLiteral("faster")).fontFamilies());
    QCOMPARE(formats.value(QStringLiteral("quieter")).fontFamilies().toStringList().value(0),
             QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
}

void tst_RichText::inlineHtmlIsShownAsText()
{
    const QString markdown =
        QStringLiteral("Hello <b>there</b> <a href=\"file:///etc/passwd\">x</a>\n\n<div>block</div>");
    const RichText rich = richTextFromMarkdown(markdown);

    const QString plain = plainTextOf(rich);
    QVERIFY2(plain.contains(QStringLiteral("<b>there</b>")), qPrintable(plain));
    QVERIFY2(plain.contains(QStringLiteral("<a href=\"file:///etc/passwd\">x</a>")), qPrintable(plain));
    QVERIFY2(plain.contains(QStringLiteral("<div>block</div>")), qPrintable(plain));
    for (const Run& run : runsOf(rich)) {
        QVERIFY(run.format.anchorHref().isEmpty());
        QVERIFY(run.format.fontWeight() <= QFont::Normal);
    }
}

QTEST_MAIN(tst_RichText)
#include "tst_RichText.moc"
