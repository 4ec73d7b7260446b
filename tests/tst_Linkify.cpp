#include "tests/support/LinkifyPatterns.h"
#include "updates/Linkify.h"

#include <QList>
#include <QRandomGenerator>
#include <QTest>

class tst_Linkify : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rewritesAddressesAndLeavesLinksAlone_data();
    void rewritesAddressesAndLeavesLinksAlone();
    void rewritingFromTheEndMatchesRewritingFromTheStart();
    void agreesWithThePatternsOnRandomText();
    void longLinesOfUnclosedBracketsAreLeftAlone();
};

void tst_Linkify::rewritesAddressesAndLeavesLinksAlone_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    // Bracketed domain names.
    QTest::newRow("bracketed domain with path")
        << QStringLiteral("Get it at [example.com/app] today")
        << QStringLiteral("Get it at [example.com/app](https://example.com/app) today");
    QTest::newRow("bracketed domain starting with http keeps its target")
        << QStringLiteral("[http.example.org]") << QStringLiteral("[http.example.org](http.example.org)");
    QTest::newRow("bracketed domain keeps its case")
        << QStringLiteral("[Example.COM]") << QStringLiteral("[Example.COM](https://Example.COM)");
    QTest::newRow("hyphenated domain") << QStringLiteral("[my-site.example.net/x?y=1]")
                                       << QStringLiteral(
                                              "[my-site.example.net/x?y=1](https://my-site.example.net/x?y=1)");
    QTest::newRow("two bracketed domains")
        << QStringLiteral("[a.example] or [b.example/x]")
        << QStringLiteral("[a.example](https://a.example) or [b.example/x](https://b.example/x)");
    QTest::newRow("version number is no domain")
        << QStringLiteral("[v1.2] and [1.0]") << QStringLiteral("[v1.2] and [1.0]");
    QTest::newRow("words are no domain") << QStringLiteral("[not a domain]") << QStringLiteral("[not a domain]");
    QTest::newRow("single letter top level is no domain") << QStringLiteral("[a.b]") << QStringLiteral("[a.b]");

    // Bare addresses.
    QTest::newRow("bare https address") << QStringLiteral("See https://example.com/notes for more")
                                        << QStringLiteral(
                                               "See [https://example.com/notes](https://example.com/notes) for more");
    QTest::newRow("bare http address") << QStringLiteral("http://example.com")
                                       << QStringLiteral("[http://example.com](http://example.com)");
    QTest::newRow("full stop goes into the link")
        << QStringLiteral("Download: https://example.com/get.")
        << QStringLiteral("Download: [https://example.com/get.](https://example.com/get.)");
    QTest::newRow("ends before >") << QStringLiteral("<https://example.com/a >")
                                   << QStringLiteral("<[https://example.com/a](https://example.com/a) >");
    QTest::newRow("ends before )") << QStringLiteral("(see https://example.com/a)")
                                   << QStringLiteral("(see [https://example.com/a](https://example.com/a))");
    QTest::newRow("directly after ( is left alone")
        << QStringLiteral("(https://example.com/a)") << QStringLiteral("(https://example.com/a)");
    QTest::newRow("directly after ] is left alone")
        << QStringLiteral("]https://example.com/a") << QStringLiteral("]https://example.com/a");
    QTest::newRow("inside a word is left alone")
        << QStringLiteral("xhttps://example.com") << QStringLiteral("xhttps://example.com");
    QTest::newRow("no-break space ends the address")
        << QStringLiteral("https://example.com/a\u00a0next")
        << QStringLiteral("[https://example.com/a](https://example.com/a)\u00a0next");
    QTest::newRow("positions after astral characters")
        << QStringLiteral("🎉 Grüße https://example.com/ü 🎉 [example.org]")
        << QStringLiteral(
               "🎉 Grüße [https://example.com/ü](https://example.com/ü) 🎉 [example.org](https://example.org)");
    QTest::newRow("two lines")
        << QStringLiteral("one https://a.example\ntwo https://b.example")
        << QStringLiteral("one [https://a.example](https://a.example)\ntwo [https://b.example](https://b.example)");

    // Existing Markdown is left exactly as it was.
    QTest::newRow("inline link") << QStringLiteral("[Kelvo](https://example.com/kelvo)")
                                 << QStringLiteral("[Kelvo](https://example.com/kelvo)");
    QTest::newRow("inline link with domain text") << QStringLiteral("[example.com](https://other.example)")
                                                  << QStringLiteral("[example.com](https://other.example)");
    QTest::newRow("inline link whose text is its address")
        << QStringLiteral("[https://a.example/x](https://a.example/x)")
        << QStringLiteral("[https://a.example/x](https://a.example/x)");
    QTest::newRow("address link next to a bare address")
        << QStringLiteral("[https://a.example/x](https://a.example/x) and https://b.example")
        << QStringLiteral("[https://a.example/x](https://a.example/x) and [https://b.example](https://b.example)");
    QTest::newRow("address in a link title")
        << QStringLiteral("[docs](https://a.example \"mirror: https://b.example\")")
        << QStringLiteral("[docs](https://a.example \"mirror: https://b.example\")");
    QTest::newRow("bracketed domain inside link text") << QStringLiteral("[see [example.com]](https://a.example)")
                                                       << QStringLiteral("[see [example.com]](https://a.example)");
    QTest::newRow("image") << QStringLiteral("![https://a.example/s.png](https://a.example/s.png)")
                           << QStringLiteral("![https://a.example/s.png](https://a.example/s.png)");
    QTest::newRow("reference link") << QStringLiteral("[example.com][1]") << QStringLiteral("[example.com][1]");
    QTest::newRow("reference definition") << QStringLiteral("Notes [here][1].\n\n[1]: https://a.example/notes")
                                          << QStringLiteral("Notes [here][1].\n\n[1]: https://a.example/notes");

    QTest::newRow("autolink") << QStringLiteral("Notes: <https://example.com/a>.")
                              << QStringLiteral("Notes: <https://example.com/a>.");
    QTest::newRow("autolink holding a bracketed domain")
        << QStringLiteral("<https://a.example/[b.example]> [c.example]")
        << QStringLiteral("<https://a.example/[b.example]> [c.example](https://c.example)");
    QTest::newRow("one-letter scheme makes no autolink")
        << QStringLiteral("<a:https://b.example>") << QStringLiteral("<a:[https://b.example](https://b.example)>");

    QTest::newRow("reference definition indented three spaces")
        << QStringLiteral("   [1]: https://a.example") << QStringLiteral("   [1]: https://a.example");
    QTest::newRow("four spaces make no reference definition")
        << QStringLiteral("    [1]: https://a.example")
        << QStringLiteral("    [1]: [https://a.example](https://a.example)");
    QTest::newRow("reference definition only at the start of a line")
        << QStringLiteral("see [1]: https://a.example")
        << QStringLiteral("see [1]: [https://a.example](https://a.example)");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("nothing to link") << QStringLiteral("Kelvo 2 is here.") << QStringLiteral("Kelvo 2 is here.");
}

void tst_Linkify::rewritesAddressesAndLeavesLinksAlone()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(linkify(text), expected);
}

void tst_Linkify::rewritingFromTheEndMatchesRewritingFromTheStart()
{
    // Rewriting one bracketed domain at a time, first to last, gives what linkify gives for all at once.
    const QString text = QStringLiteral("[a.example] then [bb.example/longer/path] then [c.example]");
    QString stepwise = text;
    for (const QString& domain :
         {QStringLiteral("a.example"), QStringLiteral("bb.example/longer/path"), QStringLiteral("c.example")}) {
        const QString bracketed = QLatin1Char('[') + domain + QLatin1Char(']');
        stepwise.replace(stepwise.indexOf(bracketed), bracketed.size(),
                         bracketed + QStringLiteral("(https://") + domain + QLatin1Char(')'));
    }
    QCOMPARE(linkify(text), stepwise);
}

void tst_Linkify::agreesWithThePatternsOnRandomText()
{
    // Pieces that matter to the rules, so that short random texts reach every branch: nested and unclosed brackets,
    // targets cut by a newline, definitions after up to four spaces, domains and addresses.
    const QStringList pieces = {
        QStringLiteral("["),      QStringLiteral("]"),       QStringLiteral("("),           QStringLiteral(")"),
        QStringLiteral("\n"),     QStringLiteral("\r"),      QStringLiteral(" "),           QStringLiteral(":"),
        QStringLiteral("."),      QStringLiteral("-"),       QStringLiteral("a"),           QStringLiteral("bc"),
        QStringLiteral("1"),      QStringLiteral("!"),       QStringLiteral(">"),           QStringLiteral("\u00a0"),
        QStringLiteral("ex.com"), QStringLiteral("http://"), QStringLiteral("https://x.y"), QStringLiteral("é"),
        QStringLiteral("🎉"),      QStringLiteral("  "),      QStringLiteral("]: "),         QStringLiteral("<"),
        QStringLiteral("ab:"),
    };
    QRandomGenerator random(20261207);
    for (int round = 0; round < 30000; ++round) {
        QString text;
        const int length = random.bounded(1, 28);
        for (int i = 0; i < length; ++i) {
            text += pieces[random.bounded(int(pieces.size()))];
        }
        const QString expected = linkifyWithPatterns(text);
        if (linkify(text) != expected) {
            QCOMPARE(linkify(text), expected); // reports the text that differs
        }
    }
}

void tst_Linkify::longLinesOfUnclosedBracketsAreLeftAlone()
{
    // A notice can be up to 1 MiB. Each of these once made the closing character be looked for again from every
    // "[", which took minutes; they hold no link and no address, so they come back as they went in.
    const QList<QString> texts = {
        QStringLiteral("[x](").repeated(250000),     // inline targets that never close
        QStringLiteral("[x][").repeated(250000),     // references that never close
        QStringLiteral("[ex.com ").repeated(120000), // domains that never close
        QStringLiteral("[a [b] ").repeated(140000),  // link texts that never close
        QStringLiteral("<ab:x").repeated(200000),    // autolinks that never close
    };
    for (const QString& text : texts) {
        QCOMPARE(linkify(text), text);
    }
    QCOMPARE(linkify(QStringLiteral("[x](").repeated(100000) + QLatin1Char(')')),
             QStringLiteral("[x](").repeated(100000) + QLatin1Char(')'));
}

QTEST_APPLESS_MAIN(tst_Linkify)
#include "tst_Linkify.moc"
