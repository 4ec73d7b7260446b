#include "cli/CommandSession.h"

#include "cli/Completion.h"
#include "cli/DeviceChoice.h"
#include "cli/DeviceReport.h"
#include "cli/KeyInput.h"
#include "cli/RunningInstance.h"
#include "cli/SettingPlan.h"
#include "model/ControlCharacters.h"
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

// Why a change did not go through: the cloud's status and what it says, or the transfer's error.
QString refusalText(const PlannedChange& change, const StateChangeOutcome& outcome)
{
    QString why;
    if (outcome.kind == StateChangeOutcome::Kind::NotSent) {
        why = QStringLiteral("Invalid URL");
    } else if (outcome.status) {
        why = QStringLiteral("the cloud answered %1").arg(*outcome.status);
        if (!outcome.reason.isEmpty()) {
            why += QStringLiteral(": ") + outcome.reason;
        }
    } else {
        why = outcome.message;
        if (why.endsWith(u'.')) {
            why.chop(1); // more follows on the line
        }
    }
    return QStringLiteral("Failed to update %1: %2").arg(change.description.section(u' ', 0, 0), why);
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

    switch (invocation.format) {
    case Invocation::Format::Json:
        m_output.out(statusJson(shown));
        break;
    case Invocation::Format::Waybar:
        m_output.out(waybarStatus(shown.first()));
        break;
    case Invocation::Format::Text:
        if (shown.isEmpty()) {
            m_output.error(QStringLiteral("No devices on this account"));
        }
        QString lines;
        for (const SensiboDevice& device : shown) {
            lines += statusLine(device) + u'\n';
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
    const auto devices = co_await loadDevices(false);
    if (!devices) {
        co_return ExitStatus::failed;
    }
    QList<qsizetype> targets;
    if (invocation.allDevices) {
        for (qsizetype i = 0; i < devices->size(); ++i) {
            targets.append(i);
        }
        if (targets.isEmpty()) {
            co_return fail(ExitStatus::failed, QStringLiteral("No devices on this account"));
        }
    } else {
        const DeviceChoice choice = chooseDevice(*devices, invocation.device);
        if (choice.index < 0) {
            co_return fail(devices->isEmpty() ? ExitStatus::failed : ExitStatus::usage, choice.error);
        }
        targets.append(choice.index);
    }

    int status = ExitStatus::done;
    int applied = 0;
    for (const qsizetype index : targets) {
        const SensiboDevice& device = devices->at(index);
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
