#pragma once

#include <QObject>

#include <utility>

// Stores `value` into `member` and emits `changed` on `owner`, only when the value differs: a write of the value
// a property already has redraws nothing.
template <typename Owner, typename T, typename U>
bool assignAndNotify(Owner* owner, T& member, U&& value, void (Owner::*changed)())
{
    if (member == value) {
        return false;
    }
    member = std::forward<U>(value);
    Q_EMIT(owner->*changed)();
    return true;
}
