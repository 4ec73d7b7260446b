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

    // The socket of the running instance on the default settings folder.
    static QString defaultName();

    // True when another instance answered and was asked to open its panel: this one should exit. Otherwise this
    // instance starts listening for later starts and returns false.
    bool handOverToRunningInstance();

Q_SIGNALS:
    // A later start asked this instance to show itself.
    void activationRequested();
    // Another Kelvo process changed the devices at the cloud.
    void refreshRequested();

private:
    QString m_name;
    QLocalServer* m_server = nullptr;
};
