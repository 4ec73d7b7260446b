#pragma once

#include <QString>

// Characters in a text from the cloud or the maker's site that do not stand for themselves: C0 and C1 controls and
// DEL (a terminal takes ESC sequences, carriage returns and line feeds as commands), and the Unicode bidirectional
// controls, which reorder the characters around them ("exe.doc" shown as "cod.exe").

// U+061C, U+200E–U+200F, U+202A–U+202E, U+2066–U+2069.
bool isBidiControl(char32_t c);

// U+0000–U+001F, U+007F, U+0080–U+009F.
bool isControlCharacter(char32_t c);

// `text` with its bidirectional controls dropped.
QString withoutBidiControls(const QString& text);

// `text` fit for a terminal: every control character becomes "\x1B" and every bidirectional control "\u202E", so
// what was sent can still be seen but does nothing.
QString escapedForTerminal(const QString& text);
