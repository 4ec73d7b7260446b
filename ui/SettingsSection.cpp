#include "ui/SettingsSection.h"

#include "ui/HeadingLabel.h"
#include "ui/PanelStyle.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {
constexpr qreal cornerRadius = 8;
constexpr int rowHorizontalMargin = 12;
constexpr int rowVerticalMargin = 7;
constexpr int rowMinimumHeight = 36;
constexpr int headerIndent = 4;

} // namespace

// The card sits a little lighter than the window in a light theme and a little lighter still in a dark one, as the
// grouped forms of desktop settings do.
QColor SettingsSection::cardColor(const QPalette& palette)
{
    return isDark(palette) ? blend(QColor(Qt::white), palette.color(QPalette::Window), 0.06)
                           : blend(QColor(Qt::white), palette.color(QPalette::Window), 0.75);
}

SettingsSection::SettingsSection(const QString& title, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    m_header = new HeadingLabel(title, this);
    m_header->setContentsMargins(headerIndent, 0, 0, 0);
    layout->addWidget(m_header);

    m_card = new QWidget(this);
    m_rows = new QVBoxLayout(m_card);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(1); // the dividing line
    layout->addWidget(m_card);
    restyle();
}

void SettingsSection::addRow(QWidget* row)
{
    row->setParent(m_card);
    // A strut, not a minimum height: a fixed minimum would let a larger font squeeze the row's content below its own
    // minimum.
    if (auto* layout = qobject_cast<QBoxLayout*>(row->layout())) {
        layout->setContentsMargins(rowHorizontalMargin, rowVerticalMargin, rowHorizontalMargin, rowVerticalMargin);
        if (layout->direction() == QBoxLayout::LeftToRight || layout->direction() == QBoxLayout::RightToLeft) {
            layout->addStrut(rowMinimumHeight - 2 * rowVerticalMargin);
        }
    } else {
        row->setContentsMargins(rowHorizontalMargin, rowVerticalMargin, rowHorizontalMargin, rowVerticalMargin);
        row->setMinimumHeight(rowMinimumHeight);
    }
    row->installEventFilter(this);
    m_rows->addWidget(row);
    m_rowWidgets.append(row);
}

bool SettingsSection::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
        update();
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsSection::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(m_card->geometry()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outline;
    outline.addRoundedRect(card, cornerRadius, cornerRadius);
    painter.setPen(QPen(separatorColor(palette()), 1));
    painter.setBrush(cardColor(palette()));
    painter.drawPath(outline);

    // A line above every shown row but the first, inset like the rows' content.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(separatorColor(palette()), 1));
    bool first = true;
    for (QWidget* row : m_rowWidgets) {
        if (row->isHidden()) {
            continue;
        }
        if (!first) {
            const int y = m_card->y() + row->y() - 1;
            painter.drawLine(m_card->x() + rowHorizontalMargin, y, m_card->geometry().right() - rowHorizontalMargin, y);
        }
        first = false;
    }
}

void SettingsSection::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        restyle();
    }
}

void SettingsSection::restyle()
{
    m_header->setFont(headlineFont(font()));
    setTextColor(m_header, primaryColor(palette()));
    // What stands on the card (links, switches, focus rings) takes the card for its background, to contrast with it.
    QPalette card = m_card->palette();
    card.setColor(QPalette::Window, cardColor(palette()));
    m_card->setPalette(card);
}
