#pragma once

#include <QByteArray>
#include <QString>

// The command line's standard output and standard error, written straight to their descriptors, so that a write
// that fails is seen: a full disk or a closed descriptor ends the call with status 1 and a message, as coreutils
// do; a reader that went away (EPIPE) ends it quietly.
class Output
{
public:
    // Puts /dev/null where standard input, output or error is closed, so that no file or socket the call opens
    // takes its number and receives what was meant for it; writes to a closed output still fail. Makes a write to a
    // pipe with no reader fail with EPIPE instead of ending the process at once. Call once, first.
    static Output forThisProcess();

    Output(int outDescriptor, int errDescriptor);

    void out(const QByteArray& bytes);
    void out(const QString& text) { out(text.toUtf8()); }
    // One line on standard error: "kelvo: " and the message.
    void error(const QString& message);

    // The exit status once everything is written: `status`, or 1 after a failed write, with its message. After a
    // reader went away the process ends quietly by SIGPIPE here, as a writer to a closed pipe does.
    int finish(int status);

private:
    bool writeAll(int descriptor, const QByteArray& bytes);

    int m_out;
    int m_err;
    int m_outError = 0; // errno of the first failed write to standard output
};
