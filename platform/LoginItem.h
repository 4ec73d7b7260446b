#pragma once

#include <QString>

#include <memory>

// Whether Kelvo starts when the user logs in. The system's own setting is the truth: nothing about it is kept in
// the preferences, and the status is read back from the system on every call. One implementation per system.
class LoginItem
{
public:
    virtual ~LoginItem() = default;

    // Each reports whether the system took the change.
    virtual bool registerItem() = 0;
    virtual bool unregisterItem() = 0;
    virtual bool isEnabled() const = 0;

    // The login item of this system for the program at `executable`; empty means the running program.
    static std::unique_ptr<LoginItem> create(const QString& executable = QString());
};
