#pragma once

#include <QByteArray>
#include <QString>

// Settings are read only from regular files of a sane size. A FIFO put in a file's place would make open() wait
// for ever, a link to /dev/zero would be read without end, and a 100 MB file would be held whole: none of them is
// ever waited on or read past the cap.
namespace RegularFile {

// A settings file holds a few hundred bytes, and at most one update notice of up to 1 MiB, which JSON may write six
// times as long (a control character becomes "\u001b").
inline constexpr qsizetype maxSettingsSize = 8 * 1024 * 1024;

struct Contents {
    enum class Outcome {
        Missing,    // nothing there (a link leading nowhere included)
        Read,       // `bytes` holds the whole file
        NotRegular, // a FIFO, a device, a socket
        TooLarge,   // larger than the cap
        Failed,     // there, but it could not be read (permissions, an I/O error, a folder)
    };
    Outcome outcome = Outcome::Missing;
    QByteArray bytes;
    QString problem; // why it was not read: "a FIFO, not a regular file", "larger than 1 MiB", or the system's reason
};

// Reads the regular file at `path` (following links) if it holds at most `maxSize` bytes; never blocks.
Contents read(const QString& path, qsizetype maxSize = maxSettingsSize);

// Why whatever is at `path` (not following links) cannot be a lock file: anything but a small regular file. Empty
// when it can be one, or when nothing is there.
QString lockFileProblem(const QString& path);

} // namespace RegularFile
