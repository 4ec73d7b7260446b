#include "platform/Sleep.h"

#include "platform/SleepTimer.h"

#include <QCoroSignal>

#include <memory>

QCoro::Task<bool> sleepFor(std::chrono::milliseconds duration, CancelToken token)
{
    if (token.isCancelled()) {
        co_return false;
    }
    auto timer = std::make_unique<SleepTimer>();
    timer->start(duration);
    // The token may outlive this sleep; the connection goes with the timer.
    QObject::connect(token.state(), &CancelState::cancelled, timer.get(), &SleepTimer::stop);
    // qCoro resumes through a queued connection, so the timer is never deleted inside its own signal.
    const bool expired = co_await qCoro(timer.get(), &SleepTimer::finished);
    co_return expired;
}
