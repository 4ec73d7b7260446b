#pragma once

class QLockFile;

// A process killed between creating a lock file and writing its name into it leaves an empty file that Qt takes
// for a living lock: for half a minute, or for ever when stale locks are judged by their process alone. Qt holds an
// flock on the file from the moment it creates it, so an empty file that nobody holds, and that is older than the
// moment between those two steps, is such a leftover. Removes it when it is one; true when it was removed.
bool removeLockLeftover(QLockFile& lock);
