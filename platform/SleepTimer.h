#pragma once

#include <QObject>

#include <chrono>

class QSocketNotifier;

// One-shot timer on CLOCK_BOOTTIME (Linux), or a QTimer elsewhere and wherever the boot-clock timer cannot be made.
// Emits finished(true) when it expires and finished(false) when stopped early; emits exactly once.
class SleepTimer : public QObject
{
    Q_OBJECT

public:
    explicit SleepTimer(QObject* parent = nullptr);
    ~SleepTimer() override;

    // Starts the timer, on the boot clock when it can.
    void start(std::chrono::milliseconds duration);
    void stop();

Q_SIGNALS:
    void finished(bool expired);

private:
    void finish(bool expired);
#ifdef Q_OS_LINUX
    bool startBootClock(std::chrono::milliseconds duration);
#endif

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
    QObject* m_fallback = nullptr;
    bool m_done = false;
};
