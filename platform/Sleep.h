#pragma once

#include "platform/CancelToken.h"

#include <QCoroTask>

#include <chrono>

// Suspends the calling task for `duration`, measured on a clock that keeps counting while the computer is
// suspended, so that "every 30 s" still holds across a laptop lid. Returns true when the time has passed and
// false when the token was cancelled first (the sleep then ends at once). Where that clock cannot be used, an ordinary
// timer measures the sleep instead: an uncancelled sleep never ends early.
QCoro::Task<bool> sleepFor(std::chrono::milliseconds duration, CancelToken token = {});
