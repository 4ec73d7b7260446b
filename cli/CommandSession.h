#pragma once

#include "cli/Invocation.h"
#include "cli/Output.h"
#include "cli/SettingPlan.h"
#include "service/SensiboClient.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QString>

// The command line's work with the cloud: one device-list request, then for `set` one state change per setting, for
// `timer` and `react` one change per device, for `status` the details of each device shown and for `history` the
// readings, through the application's own client (its timeouts, size limits and error texts). Writes results and
// failures to `output` and gives the exit status.
class CommandSession
{
public:
    static constexpr int waybarTimeoutMs = 10'000; // a status bar must not wait a minute
    static constexpr int completionTimeoutMs = 3'000;

    struct Options {
        QString baseURL;              // the cloud's address
        QString apiKey;               // empty: there is none
        QString preferencesDirectory; // where `login` stores the key, and whose tray Kelvo is told of changes
    };

    CommandSession(Options options, Output& output);

    QCoro::Task<int> run(Invocation invocation);

private:
    QCoro::Task<int> status(const Invocation& invocation);
    QCoro::Task<int> devices(const Invocation& invocation);
    QCoro::Task<int> set(const Invocation& invocation);
    QCoro::Task<int> changeExtras(const Invocation& invocation); // timer and react
    QCoro::Task<int> history(const Invocation& invocation);
    QCoro::Task<int> login();
    int logout();
    QCoro::Task<int> complete(const Invocation& invocation);
    // The device list, or nothing after the failure was reported.
    QCoro::Task<std::optional<QList<SensiboDevice>>> loadDevices(bool forWaybar);
    // The devices a command acts on, from the device list: every one with --all, else the one --device names, else
    // the first. Empty after a failure was reported, whose exit status is then in `failure`.
    QCoro::Task<QList<SensiboDevice>> targetDevices(const Invocation& invocation, int& failure);
    // Sends one device's planned changes in order and stops at the first the cloud refuses. Reports a refusal in
    // one line, naming the device when `named`; says whether every change went through, and counts those that did.
    QCoro::Task<bool> send(const SensiboDevice& device, const SettingPlan& plan, bool named, int& applied);
    int fail(int status, const QString& message, bool forWaybar = false);
    // Tells the tray Kelvo of this settings folder, if one runs, one of the instance socket's messages.
    void tellTray(const QByteArray& message) const;

    Options m_options;
    Output& m_output;
    QNetworkAccessManager m_network;
    SensiboClient m_client;
};
