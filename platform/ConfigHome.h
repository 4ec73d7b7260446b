#pragma once

#include <QDir>
#include <QString>

// The user's configuration folder: $XDG_CONFIG_HOME when it holds an absolute path, otherwise ~/.config.
inline QString configHome()
{
    const QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    return base.isEmpty() || !QDir::isAbsolutePath(base) ? QDir::homePath() + QStringLiteral("/.config") : base;
}
