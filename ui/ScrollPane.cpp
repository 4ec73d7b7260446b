#include "ui/ScrollPane.h"

#include <QApplication>
#include <QEvent>
#include <QScrollBar>

namespace {
// The least the pane keeps when squeezed: enough lines of text to show that it scrolls.
constexpr int leastLines = 3;
} // namespace

ScrollPane::ScrollPane(QWidget* content, QWidget* parent)
    : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    // The content is as tall as it asks, never squeezed: what does not fit scrolls.
    content->setSizePolicy(content->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    setWidget(content);
    content->setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now && widget() && widget()->isAncestorOf(now)) {
            ensureWidgetVisible(now, 0, 0);
        }
    });
}

QSize ScrollPane::sizeHint() const
{
    const QSize content = widget() ? widget()->sizeHint() : QSize();
    return {content.width() + 2 * frameWidth(), content.height() + 2 * frameWidth()};
}

QSize ScrollPane::minimumSizeHint() const
{
    const int least = std::min(sizeHint().height(), leastLines * fontMetrics().height());
    const int width = widget() ? widget()->minimumSizeHint().width() : 0;
    return {width + verticalScrollBar()->sizeHint().width(), least};
}

bool ScrollPane::eventFilter(QObject* watched, QEvent* event)
{
    // The content's new size reaches the layouts above the pane, which does not pass it on by itself.
    if (watched == widget() && event->type() == QEvent::LayoutRequest) {
        updateGeometry();
    }
    return QScrollArea::eventFilter(watched, event);
}
