#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QPixmap>

class QLabel;
class QPainter;
class QWidget;

// The panel's text styles and colours, derived from the desktop's font and palette so that the panel follows the
// user's light or dark theme. Fixed steps of the system font stand in for the text styles of the design.

QFont headlineFont(const QFont& base); // the body size, bold
QFont captionFont(const QFont& base);  // a step smaller than the body
QFont caption2Font(const QFont& base); // the smallest text
int largeTitlePixelSize(const QFont& base);
// How much larger than the panel's reference text `font` is: 1 up to a 13 px font (the default fonts of Linux desktops
// are 12 to 13 px), in proportion above it. Fixed widths of the panel grow by it, so that larger text is not cut.
qreal textScale(const QFont& font);

bool isDark(const QPalette& palette);

// Text colours by emphasis, opaque, over the window background.
QColor primaryColor(const QPalette& palette);
QColor secondaryColor(const QPalette& palette);
QColor tertiaryColor(const QPalette& palette);
// The faint fill behind compact controls.
QColor quaternaryFill(const QPalette& palette);
QColor separatorColor(const QPalette& palette);

// Signal colours, brighter on dark backgrounds.
QColor systemGreen(const QPalette& palette);
QColor systemRed(const QPalette& palette);
QColor systemBlue(const QPalette& palette);

// The least contrast against the background: text (WCAG AA), and focus indicators and other non-text marks.
inline constexpr qreal textContrast = 4.5;
inline constexpr qreal focusContrast = 3.0;
// WCAG's contrast ratio of two opaque colours, from 1 to 21.
qreal contrastRatio(const QColor& a, const QColor& b);
// `color` moved towards black (or white on a dark background) just far enough to reach `ratio` on `background`.
QColor readableOn(const QColor& color, const QColor& background, qreal ratio);
// The colour of a keyboard focus ring drawn on the edge of a control filled with `fill`: the palette's highlight,
// darkened (or lightened) until it stands at least 3:1 against both the window and the fill. Where no shade of it
// can, the text colour, which then needs a line of the window's colour between it and the fill (see
// drawFocusRing).
QColor focusRingColor(const QPalette& palette, const QColor& fill);
QColor focusRingColor(const QPalette& palette); // a control without a fill of its own
// Strokes a 2 px focus ring just inside `rect` (a rounded rectangle of `radius`) around a control filled with
// `fill`. When the ring's colour cannot stand 3:1 against the fill, a 1 px line of the window's colour parts them.
void drawFocusRing(QPainter& painter, const QRectF& rect, qreal radius, const QPalette& palette, const QColor& fill);

// `color` at `opacity` over `background`, as one opaque colour.
QColor blend(const QColor& color, const QColor& background, qreal opacity);

// Sets the colour a label or button draws its text with.
void setTextColor(QWidget* widget, const QColor& color);
// Sets the colour an auto-filled widget paints behind its content.
void setBackgroundColor(QWidget* widget, const QColor& color);

// A symbol and a text side by side, 4 px apart, as one status label named `objectName`; `icon` receives the
// symbol's label, and `text` moves into the group.
QWidget* symbolLabel(QWidget* parent, QLabel*& icon, QWidget* text, const QString& objectName);

// A filled circle `diameter` pixels across, for status dots.
QPixmap dotPixmap(const QColor& color, int diameter, qreal devicePixelRatio);
