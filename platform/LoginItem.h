#pragma once

#include <QString>

#include <memory>

// Whether Kelvo starts when the user logs in. The system's own setting is the truth: nothing about it is kept in
// the preferences, and the status is read back from the system on every call. One implementation per system.
class LoginItem
{
public:
    virtual ~LoginItem() = default;

    // Each reports whether the system took the change; when not, lastError() says why.
    virtual bool registerItem() = 0;
    virtual bool unregisterItem() = 0;
    virtual bool isEnabled() const = 0;
    // Why the last change failed: "<file>: <reason>".
    virtual QString lastError() const = 0;

    // The login item of this system for the program at `executable`; empty means the running program.
    static std::unique_ptr<LoginItem> create(const QString& executable = QString());
};
