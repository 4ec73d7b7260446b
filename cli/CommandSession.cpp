#include "cli/CommandSession.h"

#include "cli/Completion.h"
#include "cli/DeviceChoice.h"
#include "cli/DeviceReport.h"
#include "cli/KeyInput.h"
#include "cli/RunningInstance.h"
#include "cli/SettingPlan.h"
#include "model/ControlCharacters.h"
#include "model/DeviceExtras.h"
#include "model/ReadingText.h"
#include "platform/InstanceSocket.h"
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"

namespace {
const QString noKeyMessage = QStringLiteral(
    "No API key: store one with 'kelvo login' or in Kelvo's settings window, or set KELVO_API_KEY for the call");

QString countText(qsizetype count)
{
    return QStringLiteral("%1 device%2 found").arg(count).arg(count == 1 ? QString() : QStringLiteral("s"));
}

// Why a request did not go through: the cloud's status and what it says, or the transfer's error.
QString whyRefused(bool sent, const std::optional<int>& status, const QString& reason, QString message)
{
    if (!sent) {
        return QStringLiteral("Invalid URL");
    }
    if (status) {
        QString why = QStringLiteral("the cloud answered %1").arg(*status);
        if (!reason.isEmpty()) {
            why += QStringLiteral(": ") + reason;
        }
        return why;
    }
    if (message.endsWith(u'.')) {
        message.chop(1); // more follows on the line
    }
    return message;
}

QString refusalText(const PlannedChange& change, const StateChangeOutcome& outcome)
{
    return QStringLiteral("Failed to update %1: %2")
        .arg(change.description.section(u' ', 0, 0), whyRefused(outcome.kind != StateChangeOutcome::Kind::NotSent,
                                                                outcome.status, outcome.reason, outcome.message));
}

} // namespace

CommandSession::CommandSession(Options options, Output& output)
    : m_options(std::move(options))
    , m_output(output)
    , m_client(&m_network, m_options.baseURL)
{}

QCoro::Task<int> CommandSession::run(Invocation invocation)
{
    std::optional<int> timeout = invocation.timeoutMs;
    if (!timeout && invocation.format == Invocation::Format::Waybar) {
        timeout = waybarTimeoutMs;
    } else if (!timeout && invocation.command == Command::Complete) {
        timeout = completionTimeoutMs;
    }
    if (timeout) {
        m_client.setTimeout(*timeout);
        m_client.setDeadline(*timeout);
    }
    switch (invocation.command) {
    case Command::Status:
        co_return co_await status(invocation);
    case Command::Devices:
        co_return co_await devices(invocation);
    case Command::Set:
        co_return co_await set(invocation);
    case Command::Timer:
    case Command::React:
        co_return co_await changeExtras(invocation);
    case Command::History:
        co_return co_await history(invocation);
    case Command::Login:
        co_return co_await login();
    case Command::Logout:
        co_return logout();
    case Command::Complete:
        co_return co_await complete(invocation);
    case Command::Tray:
    case Command::Help:
    case Command::Version:
        break;
    }
    co_return ExitStatus::usage;
}

int CommandSession::fail(int status, const QString& message, bool forWaybar)
{
    if (forWaybar) {
        // Waybar hides a module whose command fails: the failure shows as the module's error state instead.
        m_output.out(waybarError(message));
        status = ExitStatus::done;
    }
    m_output.error(message);
    return status;
}

void CommandSession::tellTray(const QByteArray& message) const
{
    askRunningInstance(InstanceSocket::path(m_options.preferencesDirectory), message);
}

QCoro::Task<std::optional<QList<SensiboDevice>>> CommandSession::loadDevices(bool forWaybar)
{
    if (m_options.apiKey.isEmpty()) {
        fail(ExitStatus::failed, noKeyMessage, forWaybar);
        co_return std::nullopt;
    }
    DeviceListOutcome outcome = co_await m_client.listDevices(m_options.apiKey);
    if (!outcome.ok()) {
        fail(ExitStatus::failed, outcome.message, forWaybar);
        co_return std::nullopt;
    }
    co_return std::move(outcome.devices);
}

QCoro::Task<int> CommandSession::status(const Invocation& invocation)
{
    const bool forWaybar = invocation.format == Invocation::Format::Waybar;
    const auto devices = co_await loadDevices(forWaybar);
    if (!devices) {
        co_return forWaybar ? ExitStatus::done : ExitStatus::failed;
    }

    QList<SensiboDevice> shown = *devices;
    if (invocation.device || forWaybar) {
        const DeviceChoice choice = chooseDevice(*devices, invocation.device);
        if (choice.index < 0) {
            co_return fail(devices->isEmpty() ? ExitStatus::failed : ExitStatus::usage, choice.error, forWaybar);
        }
        shown = {devices->at(choice.index)};
    }

    // The timer and Climate React of each device shown, asked for all at once: the call waits for one more answer,
    // not one per device. Without them the rest is still worth showing.
    std::vector<QCoro::Task<DeviceDetailsOutcome>> asked;
    for (const SensiboDevice& device : shown) {
        asked.push_back(m_client.deviceDetails(m_options.apiKey, device.id));
    }
    QList<ShownDevice> report;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const DeviceDetailsOutcome outcome = co_await asked.at(std::size_t(i));
        report.append(ShownDevice{shown.at(i), {}});
        if (outcome.ok()) {
            report.last().extras = deviceExtras(*outcome.details, QDateTime::currentDateTimeUtc());
        } else {
            m_output.error(QStringLiteral("warning: the timer and Climate React of %1 are not shown: %2")
                               .arg(deviceName(shown.at(i)), outcome.message));
        }
    }

    const QDateTime now = QDateTime::currentDateTimeUtc();
    switch (invocation.format) {
    case Invocation::Format::Json:
    case Invocation::Format::Csv:
        m_output.out(statusJson(report, now));
        break;
    case Invocation::Format::Waybar:
        m_output.out(waybarStatus(report.first(), now));
        break;
    case Invocation::Format::Text:
        if (report.isEmpty()) {
            m_output.error(QStringLiteral("No devices on this account"));
        }
        QString lines;
        for (const ShownDevice& device : report) {
            lines += statusLine(device, now) + u'\n';
        }
        m_output.out(lines);
        break;
    }
    co_return ExitStatus::done;
}

QCoro::Task<int> CommandSession::devices(const Invocation& invocation)
{
    const auto devices = co_await loadDevices(false);
    if (!devices) {
        co_return ExitStatus::failed;
    }
    if (invocation.format == Invocation::Format::Json) {
        m_output.out(deviceListJson(*devices));
    } else {
        m_output.out(deviceListText(*devices));
    }
    co_return ExitStatus::done;
}

QCoro::Task<int> CommandSession::set(const Invocation& invocation)
{
    int status = ExitStatus::done;
    const QList<SensiboDevice> targets = co_await targetDevices(invocation, status);
    int applied = 0;
    for (const SensiboDevice& device : targets) {
        // Every value is checked before the first is sent: a mistake in the last pair sends nothing.
        const SettingPlan plan = planSettings(device, invocation.settings);
        if (!plan.ok()) {
            // One device alone is the caller's mistake; with --all, that device is skipped and the rest go on.
            status = invocation.allDevices ? ExitStatus::failed : ExitStatus::usage;
            fail(status, plan.error);
            continue;
        }
        for (const QString& note : plan.notes) {
            m_output.out(escapedForTerminal(note) + u'\n');
        }
        if (!co_await send(device, plan, invocation.allDevices, applied)) {
            status = ExitStatus::failed;
        }
    }
    if (applied > 0) {
        tellTray(InstanceSocket::refreshMessage);
    }
    co_return status;
}

QCoro::Task<QList<SensiboDevice>> CommandSession::targetDevices(const Invocation& invocation, int& failure)
{
    const auto devices = co_await loadDevices(false);
    if (!devices) {
        failure = ExitStatus::failed;
        co_return {};
    }
    if (invocation.allDevices) {
        if (devices->isEmpty()) {
            failure = fail(ExitStatus::failed, QStringLiteral("No devices on this account"));
        }
        co_return *devices;
    }
    const DeviceChoice choice = chooseDevice(*devices, invocation.device);
    if (choice.index < 0) {
        failure = fail(devices->isEmpty() ? ExitStatus::failed : ExitStatus::usage, choice.error);
        co_return {};
    }
    co_return {devices->at(choice.index)};
}

QCoro::Task<int> CommandSession::changeExtras(const Invocation& invocation)
{
    int status = ExitStatus::done;
    const QList<SensiboDevice> targets = co_await targetDevices(invocation, status);
    int applied = 0;
    for (const SensiboDevice& device : targets) {
        const QString named = invocation.allDevices ? deviceName(device) + QStringLiteral(": ") : QString();
        ExtrasChangeOutcome outcome;
        switch (invocation.action) {
        case ExtrasAction::TimerOff:
        case ExtrasAction::TimerOn: {
            if (!device.acState) {
                // The timer applies the unit's settings with the power changed: without them there is nothing to send.
                status = fail(ExitStatus::failed,
                              QStringLiteral("%1 reports no settings; no timer was set").arg(deviceName(device)));
                continue;
            }
            ACState state = *device.acState;
            state.on = invocation.action == ExtrasAction::TimerOn;
            outcome = co_await m_client.setTimer(m_options.apiKey, device.id, invocation.minutes, state);
            break;
        }
        case ExtrasAction::CancelTimer:
            outcome = co_await m_client.cancelTimer(m_options.apiKey, device.id);
            break;
        case ExtrasAction::ReactOn:
        case ExtrasAction::ReactOff:
            outcome = co_await m_client.setClimateReact(m_options.apiKey, device.id,
                                                        invocation.action == ExtrasAction::ReactOn);
            break;
        }
        if (outcome.kind == ExtrasChangeOutcome::Kind::Done) {
            ++applied;
            continue;
        }
        status = fail(ExitStatus::failed, named + outcome.refusal + QStringLiteral(": ") +
                                              whyRefused(outcome.kind != ExtrasChangeOutcome::Kind::NotSent,
                                                         outcome.status, outcome.reason, outcome.message));
    }
    if (applied > 0) {
        tellTray(InstanceSocket::refreshMessage);
    }
    co_return status;
}

QCoro::Task<int> CommandSession::history(const Invocation& invocation)
{
    int status = ExitStatus::done;
    const QList<SensiboDevice> targets = co_await targetDevices(invocation, status);
    if (targets.isEmpty()) {
        co_return status;
    }
    const SensiboDevice& device = targets.first();
    const HistoryOutcome outcome = co_await m_client.history(m_options.apiKey, device.id, invocation.days);
    if (!outcome.ok()) {
        co_return fail(
            ExitStatus::failed,
            QStringLiteral("Failed to load the readings of %1: %2").arg(deviceName(device), outcome.message));
    }
    const QList<HistoryRow> rows = historyRows(roomHistory(*outcome.history));
    switch (invocation.format) {
    case Invocation::Format::Json:
    case Invocation::Format::Waybar:
        m_output.out(historyJson(rows));
        break;
    case Invocation::Format::Csv:
        m_output.out(historyCsv(rows));
        break;
    case Invocation::Format::Text:
        if (rows.isEmpty()) {
            m_output.error(QStringLiteral("No readings from %1 in that time").arg(deviceName(device)));
        }
        m_output.out(
            historyText(rows, device.acState ? device.acState->temperatureUnit.value_or(QString()) : QString()));
        break;
    }
    co_return ExitStatus::done;
}

QCoro::Task<bool> CommandSession::send(const SensiboDevice& device, const SettingPlan& plan, bool named, int& applied)
{
    QStringList done;
    for (qsizetype i = 0; i < plan.changes.size(); ++i) {
        const PlannedChange& change = plan.changes.at(i);
        const StateChangeOutcome outcome =
            co_await m_client.changeState(m_options.apiKey, device.id, change.setting, change.value);
        if (outcome.kind == StateChangeOutcome::Kind::Confirmed || outcome.kind == StateChangeOutcome::Kind::Accepted) {
            done.append(change.description);
            ++applied;
            continue;
        }
        // The rest is not sent: what follows may rest on the change that failed (a temperature on a new mode).
        QString line = refusalText(change, outcome);
        if (!done.isEmpty()) {
            line += QStringLiteral("; applied: ") + done.join(QStringLiteral(", "));
        }
        if (i + 1 < plan.changes.size()) {
            QStringList rest;
            for (qsizetype j = i + 1; j < plan.changes.size(); ++j) {
                rest.append(plan.changes.at(j).description);
            }
            line += QStringLiteral("; not sent: ") + rest.join(QStringLiteral(", "));
        }
        m_output.error(named ? deviceName(device) + QStringLiteral(": ") + line : line);
        co_return false;
    }
    co_return true;
}

QCoro::Task<int> CommandSession::login()
{
    const QString key = readApiKey();
    if (key.isEmpty()) {
        co_return fail(ExitStatus::failed, QStringLiteral("No API key given; nothing was stored"));
    }
    // Checked first: a key the cloud refuses would only make the tray fail.
    const DeviceListOutcome outcome = co_await m_client.listDevices(key);
    if (!outcome.ok()) {
        co_return fail(ExitStatus::failed, QStringLiteral("The key was not stored: ") + outcome.message);
    }
    Preferences preferences(m_options.preferencesDirectory);
    if (!preferences.setText(QLatin1String(PreferenceKeys::sensiboAPIKey), key)) {
        co_return fail(ExitStatus::failed, QStringLiteral("Could not save the key: ") + preferences.lastError());
    }
    tellTray(InstanceSocket::reloadKeyMessage);
    m_output.out(QStringLiteral("Key saved; %1\n").arg(countText(outcome.devices->size())));
    co_return ExitStatus::done;
}

int CommandSession::logout()
{
    Preferences preferences(m_options.preferencesDirectory);
    if (!preferences.text(QLatin1String(PreferenceKeys::sensiboAPIKey))) {
        m_output.out(QStringLiteral("No key was stored\n"));
        return ExitStatus::done;
    }
    if (!preferences.remove(QLatin1String(PreferenceKeys::sensiboAPIKey))) {
        return fail(ExitStatus::failed, QStringLiteral("Could not remove the key: ") + preferences.lastError());
    }
    tellTray(InstanceSocket::reloadKeyMessage);
    m_output.out(QStringLiteral("Key removed\n"));
    return ExitStatus::done;
}

QCoro::Task<int> CommandSession::complete(const Invocation& invocation)
{
    const CompletionRequest request = completionFor(invocation.words);
    QStringList rooms;
    if (request.rooms && !m_options.apiKey.isEmpty()) {
        // Completion stays quiet: no rooms when the cloud cannot be asked.
        const DeviceListOutcome outcome = co_await m_client.listDevices(m_options.apiKey);
        for (const SensiboDevice& device : outcome.devices.value_or(QList<SensiboDevice>())) {
            if (device.room) {
                rooms.append(device.room->name);
            }
        }
    }
    const QStringList lines = completionLines(request, rooms);
    m_output.out(lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n');
    co_return ExitStatus::done;
}
