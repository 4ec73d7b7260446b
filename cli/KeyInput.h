#pragma once

#include <QString>

// Reads the API key for `kelvo login`. From a terminal: after a prompt on standard error, with echo off (and back
// on however the call ends), so that the key is neither shown nor kept in the shell's history. From anything else
// (a pipe, a file): the first line. Blanks around the key are dropped; empty when nothing came.
QString readApiKey();
