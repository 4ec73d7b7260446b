#pragma once

#include "model/DeviceExtras.h"

#include <QWidget>

#include <optional>

// The room's last day, small: the temperature as a line, the humidity as a second, lighter one on its own scale,
// the day's lowest and highest temperature labelled where they were, and under the pointer the time and the values
// there. Assistive technology reads it as a chart named by its summary ("Room temperature, last 24 hours: 21 to
// 24°C, now 23°C"). It draws what its owner last gave it and keeps nothing else.
class HistoryChart : public QWidget
{
    Q_OBJECT

public:
    explicit HistoryChart(QWidget* parent = nullptr);

    // The readings to draw, temperatures shown in `unit` ("C" or "F").
    void setHistory(const RoomHistory& history, const QString& unit);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QFont labelFont() const;
    QRectF plotArea() const;
    // The reading nearest the pointer's x, by index into the temperatures.
    std::optional<qsizetype> pointedReading() const;

    RoomHistory m_history;
    QString m_unit;
    std::optional<qreal> m_pointerX;
};
