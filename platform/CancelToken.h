#pragma once

#include <QObject>

#include <memory>

// Cooperative cancellation for main-thread tasks. Copies share one state: whoever holds a copy can cancel, and
// every task holding another copy sees it at its next test, in a sleep (which wakes at once) or in a transfer
// (which is aborted).
class CancelState : public QObject
{
    Q_OBJECT

public:
    bool isCancelled() const { return m_cancelled; }
    void cancel();

Q_SIGNALS:
    void cancelled();

private:
    bool m_cancelled = false;
};

class CancelToken
{
public:
    CancelToken();

    bool isCancelled() const { return m_state->isCancelled(); }
    void cancel() const { m_state->cancel(); }

    // The object whose cancelled() signal fires once, when the token is cancelled.
    CancelState* state() const { return m_state.get(); }

private:
    std::shared_ptr<CancelState> m_state;
};
