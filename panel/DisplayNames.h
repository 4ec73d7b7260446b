#pragma once

#include "model/ReadingText.h"
#include "model/Records.h"

#include <QString>

// What the panel shows for the cloud's values. Pure functions: no view, no service. The readings' texts, which the
// command line writes too, are in model/ReadingText.h.

// The symbol name for an air conditioner mode ("cool" → "snowflake"); unknown modes get a generic unit.
QString modeIcon(const QString& mode);

// The name shown for a mode or fan level ("medium_high" → "Med-High"); other values by titleCase().
QString displayName(const QString& value);

// The name shown for a vertical or horizontal swing position ("rangeFull" → "Full Range"); others by titleCase().
QString swingDisplayName(const QString& value);

// The fallback for values the tables do not know: every "_" becomes a space, then each word (words are separated
// by white space) gets an upper-case first letter and lower-case rest: "medium_low" → "Medium Low",
// "fixedLeft" → "Fixedleft".
QString titleCase(const QString& value);
