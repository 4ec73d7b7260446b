#pragma once

#include "platform/Preferences.h"

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

// One Kelvo per settings folder: a second start asks the running one to open its panel and then leaves, so there
// is never a second icon nor a second poller of the rate-limited cloud. The running one holds a lock file in the
// settings folder for its whole run, so of two Kelvos started at once exactly one stays, whatever runtime folders
// they were given. Its socket takes a few short lines per connection from the same user, and nothing more.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Role {
        First,       // no other Kelvo runs on this settings folder: this one listens for later starts
        HandedOver,  // the running Kelvo was asked to open its panel: this one should leave
        Unreachable, // another Kelvo holds the lock but does not answer: see unreachableMessage()
    };

    explicit SingleInstance(QString preferencesDirectory = Preferences::defaultDirectory(), QObject* parent = nullptr);
    ~SingleInstance() override;

    QString socketPath() const { return m_name; }

    // Takes the lock and listens, or hands over to the Kelvo that holds it. Runs once at start-up, before any
    // window exists, and waits a few seconds at most for a Kelvo that is still starting.
    Role claim();

    // Why claim() found no Kelvo to hand over to although one holds the lock.
    QString unreachableMessage() const;

Q_SIGNALS:
    // A later start asked this instance to show itself.
    void activationRequested();
    // Another Kelvo process changed the devices at the cloud.
    void refreshRequested();
    // Another Kelvo process stored or removed the API key.
    void keyReloadRequested();

private:
    bool askRunningInstanceToOpen();
    void listen();

    void serve(QLocalSocket* client);

    QString m_directory;
    QString m_name;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
