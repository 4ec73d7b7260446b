#include "platform/SleepTimer.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>
#endif

SleepTimer::SleepTimer(QObject* parent)
    : QObject(parent)
{}

SleepTimer::~SleepTimer()
{
#ifdef Q_OS_LINUX
    if (m_fd >= 0) {
        delete m_notifier;
        ::close(m_fd);
    }
#endif
}

void SleepTimer::start(std::chrono::milliseconds duration)
{
    using namespace std::chrono;
    const auto wanted = std::max(duration, milliseconds(0));
#ifdef Q_OS_LINUX
    if (startBootClock(wanted)) {
        return;
    }
#endif
    // No timer on the boot clock (out of file descriptors, a sandbox that refuses timerfd, an old kernel): an
    // ordinary timer, which may run late across a suspend but never ends a sleep early.
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    const QDeadlineTimer deadline(wanted, Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, timer, deadline] {
        if (!deadline.hasExpired()) {
            timer->start(std::max<qint64>(1, (deadline.remainingTimeNSecs() + 999'999) / 1'000'000));
            return;
        }
        finish(true);
    });
    timer->start(wanted);
    m_fallback = timer;
}

#ifdef Q_OS_LINUX
bool SleepTimer::startBootClock(std::chrono::milliseconds duration)
{
    using namespace std::chrono;
    m_fd = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0) {
        return false;
    }
    itimerspec timeout{};
    const auto secs = duration_cast<seconds>(duration);
    timeout.it_value.tv_sec = secs.count();
    timeout.it_value.tv_nsec = duration_cast<nanoseconds>(duration - secs).count();
    if (timeout.it_value.tv_sec == 0 && timeout.it_value.tv_nsec == 0) {
        timeout.it_value.tv_nsec = 1; // an all-zero value would disarm the timer instead of firing it
    }
    if (::timerfd_settime(m_fd, 0, &timeout, nullptr) != 0) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        quint64 expirations = 0;
        // A wake-up with nothing to read is not the expiry.
        if (::read(m_fd, &expirations, sizeof expirations) != sizeof expirations || expirations == 0) {
            return;
        }
        m_notifier->setEnabled(false);
        finish(true);
    });
    return true;
}
#endif

void SleepTimer::stop()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
    }
    if (auto* timer = qobject_cast<QTimer*>(m_fallback)) {
        timer->stop();
    }
    finish(false);
}

void SleepTimer::finish(bool expired)
{
    if (m_done) {
        return;
    }
    m_done = true;
    Q_EMIT finished(expired);
}
