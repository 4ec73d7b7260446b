#include "platform/SleepTimer.h"

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

bool SleepTimer::start(std::chrono::milliseconds duration)
{
    using namespace std::chrono;
    const auto wanted = std::max(duration, milliseconds(0));
#ifdef Q_OS_LINUX
    m_fd = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd < 0) {
        return false;
    }
    itimerspec timeout{};
    const auto secs = duration_cast<seconds>(wanted);
    timeout.it_value.tv_sec = secs.count();
    timeout.it_value.tv_nsec = duration_cast<nanoseconds>(wanted - secs).count();
    if (timeout.it_value.tv_sec == 0 && timeout.it_value.tv_nsec == 0) {
        timeout.it_value.tv_nsec = 1; // an all-zero value would disarm the timer instead of firing it
    }
    if (::timerfd_settime(m_fd, 0, &timeout, nullptr) != 0) {
        return false;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        quint64 expirations = 0;
        [[maybe_unused]] auto n = ::read(m_fd, &expirations, sizeof expirations);
        m_notifier->setEnabled(false);
        finish(true);
    });
    return true;
#else
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this] { finish(true); });
    timer->start(wanted);
    m_fallback = timer;
    return true;
#endif
}

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
