#pragma once

#include "cli/Invocation.h"
#include "service/SensiboClient.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QString>

#include <cstdio>

// The command line's work with the cloud: one device-list request, then for `set` one state change per setting,
// through the application's own client (its timeouts, size limits and error texts). Writes results to `out`,
// failures to `err`, and gives the exit status.
class CommandSession
{
public:
    struct Options {
        QString baseURL;            // the cloud's address
        QString apiKey;             // empty: there is none
        QString instanceSocketPath; // where a running tray Kelvo listens
        std::FILE* out = stdout;
        std::FILE* err = stderr;
    };

    explicit CommandSession(Options options);

    QCoro::Task<int> run(Invocation invocation);

private:
    QCoro::Task<int> status(const Invocation& invocation);
    QCoro::Task<int> devices(const Invocation& invocation);
    QCoro::Task<int> set(const Invocation& invocation);
    // The device list, or nothing after the failure was reported.
    QCoro::Task<std::optional<QList<SensiboDevice>>> loadDevices(bool forWaybar);
    int fail(int status, const QString& message, bool forWaybar = false);
    void write(const QByteArray& bytes);

    Options m_options;
    QNetworkAccessManager m_network;
    SensiboClient m_client;
};
