#include "ui/ElidedLabel.h"

#include <QEvent>
#include <QFontMetricsF>

#include <cmath>

namespace {
// The text runs on one line: line breaks in a message would otherwise be drawn as boxes.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}
} // namespace

ElidedLabel::ElidedLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text)
{
    if (text == m_fullText) {
        return;
    }
    m_fullText = text;
    setToolTip(text);
    setAccessibleName(text);
    elide();
    updateGeometry();
}

// The text's width is fractional: rounded down, the last letter would not fit and the text would be cut.
QSize ElidedLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const int width = int(std::ceil(QFontMetricsF(font(), this).horizontalAdvance(oneLine(m_fullText))));
    return {width + margins.left() + margins.right(), minimumSizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    return {margins.left() + margins.right(), fontMetrics().height() + margins.top() + margins.bottom()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        elide();
        updateGeometry();
    }
}

void ElidedLabel::elide()
{
    setText(fontMetrics().elidedText(oneLine(m_fullText), Qt::ElideRight, std::max(0, contentsRect().width())));
}
