#include "cli/Output.h"

#include "model/ControlCharacters.h"

#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int closedDescriptor = -1;

// Whether `descriptor` was closed, now held by /dev/null.
bool occupyIfClosed(int descriptor)
{
    if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) {
        return false;
    }
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0 && null != descriptor) {
        ::dup2(null, descriptor);
        ::close(null);
    }
    return true;
}
} // namespace

Output Output::forThisProcess()
{
    occupyIfClosed(STDIN_FILENO);
    const bool outClosed = occupyIfClosed(STDOUT_FILENO);
    const bool errClosed = occupyIfClosed(STDERR_FILENO);
    std::signal(SIGPIPE, SIG_IGN);
    return Output(outClosed ? closedDescriptor : STDOUT_FILENO, errClosed ? closedDescriptor : STDERR_FILENO);
}

Output::Output(int outDescriptor, int errDescriptor)
    : m_out(outDescriptor)
    , m_err(errDescriptor)
{}

bool Output::writeAll(int descriptor, const QByteArray& bytes)
{
    if (descriptor == closedDescriptor) {
        errno = EBADF;
        return false;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(descriptor, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += written;
    }
    return true;
}

void Output::out(const QByteArray& bytes)
{
    // After the first failure nothing more is written: the output is cut short anyway.
    if (!bytes.isEmpty() && m_outError == 0 && !writeAll(m_out, bytes)) {
        m_outError = errno != 0 ? errno : EIO;
    }
}

void Output::error(const QString& message)
{
    // Messages may carry the cloud's texts (a room's name): their control characters must not reach the terminal.
    // Our own messages may span lines; each line is made safe on its own.
    QStringList lines = message.split(u'\n');
    for (QString& line : lines) {
        line = escapedForTerminal(line);
    }
    writeAll(m_err, QStringLiteral("kelvo: %1\n").arg(lines.join(u'\n')).toUtf8());
}

int Output::finish(int status)
{
    if (m_outError == 0) {
        return status;
    }
    if (m_outError == EPIPE) {
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
        return status == 0 ? 1 : status; // SIGPIPE blocked: still quiet
    }
    error(QStringLiteral("write error: %1").arg(QString::fromLocal8Bit(std::strerror(m_outError))));
    return status == 0 ? 1 : status;
}
