#include "ui/BusySpinner.h"

#include "ui/PanelStyle.h"

#include <QPainter>

BusySpinner::BusySpinner(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(sizeHint());
    setAccessibleName(QStringLiteral("Loading"));
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % spokes;
        update();
    });
}

void BusySpinner::showEvent(QShowEvent* event)
{
    m_timer.start();
    QWidget::showEvent(event);
}

void BusySpinner::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

void BusySpinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal radius = std::min(width(), height()) / 2.0;
    const QColor color = secondaryColor(palette());
    for (int i = 0; i < spokes; ++i) {
        // The spoke at the current step is darkest; the ones behind it fade out.
        const int age = (m_step - i + spokes) % spokes;
        QColor spoke = color;
        spoke.setAlphaF(float(1.0 - 0.75 * age / (spokes - 1)));
        painter.setPen(QPen(spoke, radius * 0.16, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(360.0 * i / spokes);
        painter.drawLine(QPointF(0, -radius * 0.5), QPointF(0, -radius * 0.9));
        painter.restore();
    }
}
