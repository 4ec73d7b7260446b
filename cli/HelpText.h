#pragma once

#include <QString>

// What `kelvo --help` and `kelvo help COMMAND` print: the overview for an empty topic, else the command's help.
QString helpText(const QString& topic);
