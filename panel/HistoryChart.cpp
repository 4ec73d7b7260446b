#include "panel/HistoryChart.h"

#include "model/ExtrasText.h"
#include "model/ReadingText.h"
#include "ui/Accessibility.h"
#include "ui/PanelStyle.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {
constexpr int plotHeight = 36;
constexpr int titleGap = 2;
constexpr int labelGap = 3; // between a point and its label
constexpr qreal lineWidth = 1.6;

QColor temperatureColor(const QPalette& palette)
{
    return readableOn(isDark(palette) ? QColor(0xff, 0x9f, 0x0a) : QColor(0xf0, 0x80, 0x00),
                      palette.color(QPalette::Window), focusContrast);
}

// Where each reading goes: time across, value up, in `area`, over [low, high].
QPolygonF polyline(const QList<HistoryPoint>& points, const QRectF& area, const QDateTime& first, const QDateTime& last,
                   double low, double high)
{
    QPolygonF line;
    line.reserve(points.size());
    const double span = std::max<double>(1, first.msecsTo(last));
    for (const HistoryPoint& point : points) {
        const double x = area.left() + area.width() * double(first.msecsTo(point.time)) / span;
        const double y = area.bottom() - area.height() * (point.value - low) / (high - low);
        line.append(QPointF(std::clamp(x, area.left(), area.right()), y));
    }
    return line;
}

// The lowest and highest value, spread to at least `least` so that a steady room draws a flat line mid-way.
std::pair<double, double> valueRange(const QList<HistoryPoint>& points, double least)
{
    const auto [lowest, highest] = std::minmax_element(
        points.cbegin(), points.cend(), [](const HistoryPoint& a, const HistoryPoint& b) { return a.value < b.value; });
    double low = lowest->value;
    double high = highest->value;
    if (high - low < least) {
        const double middle = (low + high) / 2;
        low = middle - least / 2;
        high = middle + least / 2;
    }
    return {low, high};
}

// The humidity at `time`: the reading nearest to it, when there are readings.
std::optional<double> humidityAt(const QList<HistoryPoint>& humidity, const QDateTime& time)
{
    if (humidity.isEmpty()) {
        return std::nullopt;
    }
    const auto after = std::lower_bound(humidity.cbegin(), humidity.cend(), time,
                                        [](const HistoryPoint& point, const QDateTime& t) { return point.time < t; });
    if (after == humidity.cbegin()) {
        return after->value;
    }
    if (after == humidity.cend()) {
        return humidity.last().value;
    }
    const auto before = after - 1;
    return before->time.msecsTo(time) <= time.msecsTo(after->time) ? before->value : after->value;
}
} // namespace

HistoryChart::HistoryChart(QWidget* parent)
    : QWidget(parent)
{
    Accessibility::describeClass<HistoryChart, Accessibility::WithRole<QAccessible::Chart>>();
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void HistoryChart::setHistory(const RoomHistory& history, const QString& unit)
{
    if (history == m_history && unit == m_unit) {
        return;
    }
    m_history = history;
    m_unit = unit;
    Accessibility::setName(this, historySummary(history, unit));
    update();
}

QFont HistoryChart::labelFont() const
{
    return caption2Font(font());
}

QSize HistoryChart::sizeHint() const
{
    // The title, then the plot with room above and below it for the highest and lowest temperature.
    const int line = QFontMetrics(labelFont()).height();
    return {200, line + titleGap + line + labelGap + plotHeight + labelGap + line};
}

QSize HistoryChart::minimumSizeHint() const
{
    return {100, sizeHint().height()};
}

QRectF HistoryChart::plotArea() const
{
    const int line = QFontMetrics(labelFont()).height();
    return QRectF(1, line + titleGap + line + labelGap, width() - 2, plotHeight);
}

std::optional<qsizetype> HistoryChart::pointedReading() const
{
    const QList<HistoryPoint>& temperature = m_history.temperature;
    if (!m_pointerX || temperature.size() < 2) {
        return std::nullopt;
    }
    const QRectF area = plotArea();
    const double fraction = std::clamp((*m_pointerX - area.left()) / area.width(), 0.0, 1.0);
    const QDateTime time =
        temperature.first().time.addMSecs(qint64(fraction * temperature.first().time.msecsTo(temperature.last().time)));
    const auto after = std::lower_bound(temperature.cbegin(), temperature.cend(), time,
                                        [](const HistoryPoint& point, const QDateTime& t) { return point.time < t; });
    qsizetype index = std::min<qsizetype>(after - temperature.cbegin(), temperature.size() - 1);
    if (index > 0 && temperature[index - 1].time.msecsTo(time) < time.msecsTo(temperature[index].time)) {
        --index;
    }
    return index;
}

void HistoryChart::paintEvent(QPaintEvent*)
{
    const QList<HistoryPoint>& temperature = m_history.temperature;
    if (temperature.size() < 2) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QFont font = labelFont();
    const QFontMetrics metrics(font);
    painter.setFont(font);
    const QColor secondary = secondaryColor(pal);
    const QColor warm = temperatureColor(pal);
    const QColor humid = blend(systemBlue(pal), pal.color(QPalette::Window), isDark(pal) ? 0.6 : 0.45);

    const int line = metrics.height();
    painter.setPen(secondary);
    painter.drawText(QRect(0, 0, width(), line), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Last 24 hours"));

    const QRectF area = plotArea();
    const QDateTime first = temperature.first().time;
    const QDateTime last = temperature.last().time;
    painter.setPen(QPen(separatorColor(pal), 1));
    painter.drawLine(QPointF(area.left(), area.bottom() + 0.5), QPointF(area.right(), area.bottom() + 0.5));

    // Humidity first, so that the temperature is drawn over it.
    QList<HistoryPoint> humidity;
    std::copy_if(m_history.humidity.cbegin(), m_history.humidity.cend(), std::back_inserter(humidity),
                 [&](const HistoryPoint& point) { return point.time >= first && point.time <= last; });
    if (humidity.size() >= 2) {
        const auto [low, high] = valueRange(humidity, 5);
        painter.setPen(QPen(humid, lineWidth * 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(polyline(humidity, area, first, last, low, high));
    }
    const auto [low, high] = valueRange(temperature, 1);
    const QPolygonF temperatures = polyline(temperature, area, first, last, low, high);
    painter.setPen(QPen(warm, lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(temperatures);

    // The day's lowest and highest, where they were: the highest above its point, the lowest below.
    const auto marks =
        std::minmax_element(temperature.cbegin(), temperature.cend(),
                            [](const HistoryPoint& a, const HistoryPoint& b) { return a.value < b.value; });
    for (const auto& [it, above] : {std::pair{marks.second, true}, std::pair{marks.first, false}}) {
        const QPointF at = temperatures[it - temperature.cbegin()];
        painter.setPen(Qt::NoPen);
        painter.setBrush(warm);
        painter.drawEllipse(at, 2.2, 2.2);
        const QString text = formatTemperature(it->value, m_unit);
        const int textWidth = metrics.horizontalAdvance(text);
        const qreal x = std::clamp(at.x() - textWidth / 2.0, 0.0, qreal(width() - textWidth));
        const qreal y = above ? at.y() - labelGap - metrics.descent() : at.y() + labelGap + metrics.ascent();
        painter.setPen(secondary);
        painter.drawText(QPointF(x, y), text);
    }

    // The reading under the pointer: a hairline there, and its time and values in the title's line.
    if (const auto index = pointedReading()) {
        const QPointF at = temperatures[*index];
        painter.setPen(QPen(secondary, 1, Qt::DotLine));
        painter.drawLine(QPointF(at.x(), area.top()), QPointF(at.x(), area.bottom()));
        painter.setPen(Qt::NoPen);
        painter.setBrush(warm);
        painter.drawEllipse(at, 3, 3);
        const HistoryPoint& point = temperature[*index];
        QString readout = clockText(point.time) + QStringLiteral("  ") + formatTemperature(point.value, m_unit);
        if (const auto humidityThen = humidityAt(m_history.humidity, point.time)) {
            readout += QStringLiteral("  ") + humidityText(*humidityThen);
        }
        painter.setPen(pal.color(QPalette::WindowText));
        painter.drawText(QRect(0, 0, width(), line), Qt::AlignRight | Qt::AlignVCenter, readout);
    }
}

void HistoryChart::mouseMoveEvent(QMouseEvent* event)
{
    m_pointerX = event->position().x();
    update();
    QWidget::mouseMoveEvent(event);
}

void HistoryChart::leaveEvent(QEvent* event)
{
    m_pointerX.reset();
    update();
    QWidget::leaveEvent(event);
}

void HistoryChart::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
    }
}
