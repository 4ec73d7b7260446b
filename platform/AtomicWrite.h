#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Replaces the file at `path` (or, when `path` is a symbolic link, the file it leads to) with `contents`, readable
// and writable as `mode` says: the bytes go to a new file beside it, every write and the flush to the disk are
// checked, its size is compared, and only then is it renamed over the old one. On any failure the old file stays
// byte for byte as it was, nothing is left beside it, and `reason` says what went wrong.
bool replaceFileAtomically(const QString& path, const QByteArray& contents, mode_t mode, QString* reason);

// Creates the folder `path` and each missing folder above it, readable by the user only. A folder that exists is
// left as it is: never loosened.
bool makePrivateFolders(const QString& path, QString* reason);
