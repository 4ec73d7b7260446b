#pragma once

#include <QString>
#include <QStringList>

// What the shell completion scripts ask for: `kelvo __complete WORD... CURRENT` gives, one per line, the words
// that may stand where CURRENT is being typed, read from the command table, so that a new command or option
// completes without touching the scripts.
struct CompletionRequest {
    QStringList candidates; // before the filter by what is typed
    bool rooms = false;     // also the account's rooms, which only the cloud knows
    QString typed;          // what is typed of the word so far
    QString lead;           // put before each candidate: "--device=" when the value is typed in the same word
};

// `words` are the words after "kelvo", the last one being typed (empty for a new word). bash splits
// "--device=Room" into "--device", "=" and "Room"; that form is understood too.
CompletionRequest completionFor(QStringList words);

// The lines to print: the candidates and `rooms` that begin with what is typed (rooms in any case, quotes and
// backslashes typed around them ignored), each after `lead`.
QStringList completionLines(const CompletionRequest& request, const QStringList& rooms);
