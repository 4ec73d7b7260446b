#pragma once

#include <QByteArray>
#include <QString>

// The local socket of the running tray Kelvo. There is one per settings folder, so two Kelvos with different
// settings folders (a demo, a test) never meet, while a second start on the same folder finds the first. Other
// Kelvo processes (a second start, the command line) write one message per line.
namespace InstanceSocket {

// Open the panel where the user will see it.
inline const QByteArray openMessage = QByteArrayLiteral("open\n");
// The devices changed elsewhere (the command line): load them now instead of at the next refresh.
inline const QByteArray refreshMessage = QByteArrayLiteral("refresh\n");
// The API key was stored or removed elsewhere (`kelvo login`, `kelvo logout`): read it again and load.
inline const QByteArray reloadKeyMessage = QByteArrayLiteral("reload-key\n");

// A line longer than this is no message of Kelvo's; the connection that sends it is closed.
inline constexpr qint64 maxLineLength = 256;
// Kelvo's own clients send one line and leave; a connection that sends more than this is closed.
inline constexpr int maxLinesPerConnection = 8;

// The socket's path for the settings folder `preferencesDirectory`: in the user's private runtime folder
// ($XDG_RUNTIME_DIR, else /run/user/UID, else /tmp/kelvo-UID, whichever is first the user's own and closed to
// others), otherwise in the settings folder itself.
QString path(const QString& preferencesDirectory);

// The lock that makes Kelvo single on a settings folder. It lives in that folder, so two Kelvos started with
// different runtime folders still find each other's lock.
QString lockPath(const QString& preferencesDirectory);

} // namespace InstanceSocket
