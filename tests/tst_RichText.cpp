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
    void noticesReachTheReaderWithinItsBudget_data();
    void noticesReachTheReaderWithinItsBudget();
    void linkTextsLoseBidiControls();
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

void tst_RichText::noticesReachTheReaderWithinItsBudget_data()
{
    QTest::addColumn<QString>("notice");
    QTest::addColumn<bool>("wholeMarkdown");
    QTest::addColumn<QString>("shownFirst"); // what the rendered notice begins with

    QTest::newRow("ordinary notice") << QStringLiteral("# Kelvo 2\n\n- *faster*\n- [notes](https://example.com)\n")
                                     << true << QStringLiteral("Kelvo 2");
    // Each of these held Qt's reader for seconds to minutes.
    QTest::newRow("'*a' 32,768 times") << QStringLiteral("*a").repeated(32768) << false << QStringLiteral("*a*a*a");
    QTest::newRow("1,000 lines of 1,000 '['")
        << (QString(1000, QLatin1Char('[')) + QLatin1Char('\n')).repeated(1000) << false << QStringLiteral("[[[[");
    QTest::newRow("lists nested 3,000 deep")
        << QStringLiteral("- ").repeated(3000) + QLatin1Char('x') << false << QStringLiteral("- - -");
    QTest::newRow("2,000 lines of lists 8 deep")
        << QStringLiteral("- - - - - - - - x\n").repeated(2000) << false << QStringLiteral("x");
    QTest::newRow("2,000 links in a paragraph")
        << QStringLiteral("[a](b) ").repeated(2000) << false << QStringLiteral("[a](b) [a](b)");
    QTest::newRow("1,000 reference definitions and uses")
        << QStringLiteral("[r]: https://example.com\n").repeated(1000) + QStringLiteral("[r] ").repeated(1000) << false
        << QStringLiteral("[r]");
    QTest::newRow("1 MiB of words") << QStringLiteral("word ").repeated(200'000) << false << QStringLiteral("word");
}

// The work the Markdown reader is given is counted, not timed: no more characters, marks or nesting than the budget,
// and nothing of the notice lost on the way (what the reader is not given follows as plain text).
void tst_RichText::noticesReachTheReaderWithinItsBudget()
{
    QFETCH(QString, notice);
    QFETCH(bool, wholeMarkdown);
    QFETCH(QString, shownFirst);

    const NoticeParts parts = splitForMarkdown(notice);
    QCOMPARE(parts.markdown + parts.plain, notice);
    QCOMPARE(parts.plain.isEmpty(), wholeMarkdown);
    QVERIFY(parts.markdown.size() <= MarkdownBudget::maxCharacters);
    qsizetype marks = 0;
    for (const QStringView line : QStringView(parts.markdown).split(u'\n')) {
        QVERIFY(markdownNesting(line) <= MarkdownBudget::maxNesting);
        marks += markdownMarks(line) + markdownNesting(line);
    }
    QVERIFY2(marks <= MarkdownBudget::maxMarks, qPrintable(QString::number(marks)));

    const QString shown = plainTextOf(richTextFromMarkdown(notice));
    QVERIFY2(shown.trimmed().startsWith(shownFirst), qPrintable(shown.left(100)));
    QVERIFY(shown.size() <= MarkdownBudget::maxShownCharacters + 100);
}

void tst_RichText::linkTextsLoseBidiControls()
{
    // U+202E turns "exe.doc" around: the link would read "cod.exe".
    const RichText rich = richTextFromMarkdown(QStringLiteral("Get [exe\u202E.doc](https://example.com/get) or "
                                                              "[\u2066notes\u2069](https://example.com/notes)."));
    QStringList links;
    for (const Run& run : runsOf(rich)) {
        if (!run.format.anchorHref().isEmpty()) {
            links.append(run.text);
        }
    }
    QCOMPARE(links, (QStringList{QStringLiteral("exe.doc"), QStringLiteral("notes")}));
}

QTEST_MAIN(tst_RichText)
#include "tst_RichText.moc"
