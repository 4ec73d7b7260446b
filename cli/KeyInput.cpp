#include "cli/KeyInput.h"

#include <QByteArray>

#include <cerrno>
#include <csignal>

#include <termios.h>
#include <unistd.h>

namespace {
constexpr qsizetype maxKeyLength = 4096; // far beyond any key; a longer line is cut and then refused by the cloud

termios savedTerminal{};
volatile std::sig_atomic_t echoIsOff = 0;

// Ctrl-C at the prompt must not leave the terminal without echo.
void restoreEchoAndEnd(int signal)
{
    if (echoIsOff) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

QByteArray readLine()
{
    QByteArray line;
    char c = 0;
    while (line.size() < maxKeyLength) {
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || c == '\n') {
            break;
        }
        line += c;
    }
    return line;
}
} // namespace

QString readApiKey()
{
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &savedTerminal) != 0) {
        return QString::fromUtf8(readLine()).trimmed();
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        std::signal(signal, restoreEchoAndEnd);
    }
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    quiet.c_lflag |= ECHONL; // the Enter still moves to a new line
    const char prompt[] = "Sensibo API key: ";
    [[maybe_unused]] const ssize_t shown = ::write(STDERR_FILENO, prompt, sizeof prompt - 1);
    echoIsOff = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    const QByteArray line = readLine();
    if (echoIsOff) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        echoIsOff = 0;
    }
    return QString::fromUtf8(line).trimmed();
}
