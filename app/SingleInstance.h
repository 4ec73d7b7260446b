#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One Kelvo per user: a second start asks the running one to open its panel and then leaves, so there is never a
// second icon nor a second poller of the rate-limited cloud.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);

    // The per-user name of the local socket.
    static QString defaultName();

    // True when another instance answered and was asked to open its panel: this one should exit. Otherwise this
    // instance starts listening for later starts and returns false.
    bool handOverToRunningInstance();

Q_SIGNALS:
    // A later start asked this instance to show itself.
    void activationRequested();

private:
    QString m_name;
    QLocalServer* m_server = nullptr;
};
