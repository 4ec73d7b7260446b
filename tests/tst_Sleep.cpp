#include "platform/Sleep.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
struct SleepResult {
    bool done = false;
    bool expired = false;
};

QCoro::Task<> runSleep(std::chrono::milliseconds duration, CancelToken token, SleepResult* result)
{
    result->expired = co_await sleepFor(duration, token);
    result->done = true;
}
} // namespace

class tst_Sleep : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void expiresAfterItsDuration_data();
    void expiresAfterItsDuration();
    void cancelEndsTheSleepAtOnce();
    void cancelledTokenDoesNotSleep();
    void cancellingOneTokenLeavesOtherSleepsAlone();
    void withoutTheBootClockASleepStillLastsItsTime();
};

void tst_Sleep::expiresAfterItsDuration_data()
{
    QTest::addColumn<int>("ms");
    QTest::newRow("zero") << 0;
    QTest::newRow("short") << 50;
    QTest::newRow("over a second") << 1100; // seconds and nanoseconds both set in the timer
}

void tst_Sleep::expiresAfterItsDuration()
{
    QFETCH(int, ms);
    SleepResult result;
    QElapsedTimer clock;
    clock.start();
    runSleep(std::chrono::milliseconds(ms), {}, &result);
    QVERIFY(!result.done); // always suspends: the caller's code runs on before the sleep ends
    QTRY_VERIFY_WITH_TIMEOUT(result.done, 5000);
    QVERIFY(result.expired);
    QVERIFY(clock.elapsed() >= ms);
}

void tst_Sleep::cancelEndsTheSleepAtOnce()
{
    SleepResult result;
    CancelToken token;
    runSleep(1h, token, &result);
    QTest::qWait(20);
    QVERIFY(!result.done);
    token.cancel();
    QTRY_VERIFY_WITH_TIMEOUT(result.done, 2000);
    QVERIFY(!result.expired);
}

void tst_Sleep::cancelledTokenDoesNotSleep()
{
    SleepResult result;
    CancelToken token;
    token.cancel();
    runSleep(1h, token, &result);
    QVERIFY(result.done);
    QVERIFY(!result.expired);
}

void tst_Sleep::cancellingOneTokenLeavesOtherSleepsAlone()
{
    SleepResult cancelled;
    SleepResult kept;
    CancelToken token;
    runSleep(1h, token, &cancelled);
    runSleep(100ms, {}, &kept);
    token.cancel();
    QTRY_VERIFY(cancelled.done && kept.done);
    QVERIFY(!cancelled.expired);
    QVERIFY(kept.expired);
}

void tst_Sleep::withoutTheBootClockASleepStillLastsItsTime()
{
    // The undefined-behaviour sanitizer checks an object's type once per type, through a pipe; with no descriptor
    // left that check would fail. It sees a timer here first.
    auto warm = std::make_unique<QTimer>();
    warm->setSingleShot(true);
    warm->setTimerType(Qt::PreciseTimer);
    warm->start(0);
    warm.reset();

    // No file descriptor left, so the boot-clock timer cannot be made: the sleep must still last its time.
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit few = saved;
    few.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 1024);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &few), 0);
    QList<int> taken;
    for (int fd = ::dup(0); fd >= 0; fd = ::dup(0)) {
        taken.append(fd);
    }
    SleepResult result;
    QElapsedTimer clock;
    clock.start();
    runSleep(300ms, {}, &result);
    for (const int fd : std::as_const(taken)) {
        ::close(fd);
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);

    QTest::qWait(100);
    QVERIFY(!result.done);
    QTRY_VERIFY_WITH_TIMEOUT(result.done, 5000);
    QVERIFY(result.expired);
    QVERIFY(clock.elapsed() >= 300);
}

QTEST_GUILESS_MAIN(tst_Sleep)
#include "tst_Sleep.moc"
