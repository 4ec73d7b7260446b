#pragma once

#include <QAbstractButton>

// An on/off switch without a label. It keeps no position of its own: a click only asks for the other position
// (switchRequested), and the switch moves when its owner sets the new position from the state it shows.
class ToggleSwitch : public QAbstractButton
{
    Q_OBJECT

public:
    explicit ToggleSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // The track's colour on `palette`, on or off.
    static QColor trackColorFor(const QPalette& palette, bool on);

Q_SIGNALS:
    void switchRequested(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void nextCheckState() override;
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

private:
    QSize trackSize() const;
};
