#include "platform/CancelToken.h"

void CancelState::cancel()
{
    if (m_cancelled) {
        return;
    }
    m_cancelled = true;
    Q_EMIT cancelled();
}

CancelToken::CancelToken()
    : m_state(std::make_shared<CancelState>())
{}
