#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

// Symbol images by name ("power.circle.fill", "thermometer.medium", ...), drawn from the Material Icons font that
// the build embeds. Every name Kelvo shows has a glyph of its own; a name outside the table draws nothing.

// The glyph's code point in the icon font, or 0 for a name outside the table.
char32_t symbolCodePoint(const QString& name);

// Every name in the table.
QStringList symbolNames();

// The embedded icon font at a pixel size, loaded on first use. It never borrows glyphs from other fonts.
QFont symbolFont(int pixelSize);

// An icon that draws the symbol in `color` at whatever size and pixel ratio it is asked for; greyed out when
// disabled. `pixelSize` is the size that actualSize() and the icon's natural size report. Null for an unknown name.
QIcon symbolIcon(const QString& name, const QColor& color, int pixelSize);

// The symbol in `color`, `pixelSize` device-independent pixels square. A devicePixelRatio of 0 takes the
// application's. Null for an unknown name.
QPixmap symbolPixmap(const QString& name, const QColor& color, int pixelSize, qreal devicePixelRatio = 0);
