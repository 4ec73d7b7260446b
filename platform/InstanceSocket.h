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

// The socket's path for the settings folder `preferencesDirectory`: in the user's private runtime folder
// ($XDG_RUNTIME_DIR, else /run/user/UID, else /tmp/kelvo-UID, whichever is first the user's own and closed to
// others), otherwise in the settings folder itself.
QString path(const QString& preferencesDirectory);

} // namespace InstanceSocket
