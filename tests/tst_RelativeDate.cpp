#include "updates/RelativeDate.h"

#include <QTest>

#include <chrono>

using namespace std::chrono_literals;

class tst_RelativeDate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void largestWholeUnitInFullWords_data();
    void largestWholeUnitInFullWords();
    void followsTheLocale();
    void invalidDateHasNoDescription();
};

namespace {
// Mid-month and mid-day, away from any change of the clocks.
const QDateTime now(QDate(2026, 6, 15), QTime(12, 0), Qt::UTC);

QDateTime before(std::chrono::seconds ago)
{
    return now.addSecs(-ago.count());
}
} // namespace

void tst_RelativeDate::largestWholeUnitInFullWords_data()
{
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<QString>("expected");

    QTest::newRow("now") << now << QStringLiteral("0 seconds ago");
    QTest::newRow("under a second ago") << now.addMSecs(-400) << QStringLiteral("0 seconds ago");
    QTest::newRow("1 s") << before(1s) << QStringLiteral("1 second ago");
    QTest::newRow("30 s") << before(30s) << QStringLiteral("30 seconds ago");
    QTest::newRow("59 s") << before(59s) << QStringLiteral("59 seconds ago");
    QTest::newRow("60 s") << before(60s) << QStringLiteral("1 minute ago");
    QTest::newRow("90 s") << before(90s) << QStringLiteral("1 minute ago");
    QTest::newRow("59 min 59 s") << before(59min + 59s) << QStringLiteral("59 minutes ago");
    QTest::newRow("2 h") << before(2h) << QStringLiteral("2 hours ago");
    QTest::newRow("23 h 59 min") << before(23h + 59min) << QStringLiteral("23 hours ago");
    QTest::newRow("1 day 3 h") << before(27h) << QStringLiteral("1 day ago");
    QTest::newRow("6 days") << before(6 * 24h) << QStringLiteral("6 days ago");
    QTest::newRow("8 days") << before(8 * 24h) << QStringLiteral("1 week ago");
    QTest::newRow("29 days") << before(29 * 24h) << QStringLiteral("4 weeks ago");
    QTest::newRow("a calendar month") << now.addMonths(-1) << QStringLiteral("1 month ago");
    QTest::newRow("40 days") << before(40 * 24h) << QStringLiteral("1 month ago");
    QTest::newRow("11 months") << now.addMonths(-11) << QStringLiteral("11 months ago");
    QTest::newRow("400 days") << before(400 * 24h) << QStringLiteral("1 year ago");
    QTest::newRow("3 years") << now.addYears(-3) << QStringLiteral("3 years ago");
    QTest::newRow("in 2 h") << now.addSecs(2 * 3600) << QStringLiteral("in 2 hours");
    QTest::newRow("in 90 s") << now.addSecs(90) << QStringLiteral("in 1 minute");
    QTest::newRow("in 1 day") << now.addDays(1) << QStringLiteral("in 1 day");
}

void tst_RelativeDate::largestWholeUnitInFullWords()
{
    QFETCH(QDateTime, date);
    QFETCH(QString, expected);
    QCOMPARE(describeRelative(date, now, "en_US"), expected);
}

void tst_RelativeDate::followsTheLocale()
{
    QCOMPARE(describeRelative(before(5min), now, "de_DE"), QStringLiteral("vor 5 Minuten"));
    QCOMPARE(describeRelative(before(2h), now, "fr_FR"), QStringLiteral("il y a 2 heures"));
}

void tst_RelativeDate::invalidDateHasNoDescription()
{
    QCOMPARE(describeRelative(QDateTime(), now, "en_US"), QString());
}

QTEST_APPLESS_MAIN(tst_RelativeDate)
#include "tst_RelativeDate.moc"
