#include "cli/CommandSession.h"

#include "cli/DeviceChoice.h"
#include "cli/DeviceReport.h"
#include "cli/RunningInstance.h"
#include "cli/SettingPlan.h"
#include "model/ControlCharacters.h"

namespace {
const QString noKeyMessage =
    QStringLiteral("No API key: save one in Kelvo's settings window, or set KELVO_API_KEY for the call");
} // namespace

CommandSession::CommandSession(Options options)
    : m_options(std::move(options))
    , m_client(&m_network, m_options.baseURL)
{}

QCoro::Task<int> CommandSession::run(Invocation invocation)
{
    switch (invocation.command) {
    case Invocation::Command::Status:
        co_return co_await status(invocation);
    case Invocation::Command::Devices:
        co_return co_await devices(invocation);
    case Invocation::Command::Set:
        co_return co_await set(invocation);
    case Invocation::Command::Help:
    case Invocation::Command::Version:
        break;
    }
    co_return ExitStatus::usage;
}

void CommandSession::write(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), m_options.out);
}

int CommandSession::fail(int status, const QString& message, bool forWaybar)
{
    if (forWaybar) {
        // Waybar hides a module whose command fails: the failure shows as the module's error state instead.
        write(waybarError(message));
        status = ExitStatus::done;
    }
    const QByteArray text = QStringLiteral("kelvo: %1\n").arg(escapedForTerminal(message)).toUtf8();
    std::fwrite(text.constData(), 1, std::size_t(text.size()), m_options.err);
    return status;
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
            co_return fail(devices->isEmpty() ? ExitStatus::failed : ExitStatus::usage, choice.error,
                           forWaybar && devices->isEmpty());
        }
        shown = {devices->at(choice.index)};
    }

    switch (invocation.format) {
    case Invocation::Format::Json:
        write(statusJson(shown));
        break;
    case Invocation::Format::Waybar:
        write(waybarStatus(shown.first()));
        break;
    case Invocation::Format::Text:
        if (shown.isEmpty()) {
            fail(ExitStatus::done, QStringLiteral("No devices on this account"));
        }
        for (const SensiboDevice& device : shown) {
            write(statusLine(device).toUtf8() + '\n');
        }
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
    write(invocation.format == Invocation::Format::Json ? deviceListJson(*devices) : deviceListText(*devices).toUtf8());
    co_return ExitStatus::done;
}

QCoro::Task<int> CommandSession::set(const Invocation& invocation)
{
    const auto devices = co_await loadDevices(false);
    if (!devices) {
        co_return ExitStatus::failed;
    }
    const DeviceChoice choice = chooseDevice(*devices, invocation.device);
    if (choice.index < 0) {
        co_return fail(devices->isEmpty() ? ExitStatus::failed : ExitStatus::usage, choice.error);
    }
    const SensiboDevice& device = devices->at(choice.index);

    // Every value is checked before the first is sent: a mistake in the last pair sends nothing.
    const SettingPlan plan = planSettings(device, invocation.settings);
    if (!plan.ok()) {
        co_return fail(ExitStatus::usage, plan.error);
    }
    for (const QString& note : plan.notes) {
        write(escapedForTerminal(note).toUtf8() + '\n');
    }

    int status = ExitStatus::done;
    bool changed = false;
    for (const PlannedChange& change : plan.changes) {
        const StateChangeOutcome outcome =
            co_await m_client.changeState(m_options.apiKey, device.id, change.setting, change.value);
        if (outcome.kind == StateChangeOutcome::Kind::Confirmed || outcome.kind == StateChangeOutcome::Kind::Accepted) {
            changed = true;
            continue;
        }
        // The rest is not sent: what follows may rest on the change that failed (a temperature on a new mode).
        status =
            fail(ExitStatus::failed,
                 outcome.kind == StateChangeOutcome::Kind::NotSent ? QStringLiteral("Invalid URL") : outcome.message);
        break;
    }
    if (changed) {
        askRunningInstanceToRefresh(m_options.instanceSocketPath);
    }
    co_return status;
}
