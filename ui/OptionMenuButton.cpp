#include "ui/OptionMenuButton.h"

#include "ui/Accessibility.h"
#include "ui/PanelStyle.h"
#include "ui/SymbolIcons.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>

namespace {
constexpr int horizontalMargin = 8;
constexpr int verticalMargin = 4;
constexpr int spacing = 4;
constexpr qreal cornerRadius = 5;

// For assistive technology the button is a combo box: named after its row, its value the current option's name,
// with a pop-up list that is expanded while open.
class OptionMenuAccessible : public QAccessibleWidget
{
public:
    explicit OptionMenuAccessible(OptionMenuButton* button)
        : QAccessibleWidget(button, QAccessible::ComboBox)
    {
        addControllingSignal(QStringLiteral("optionChosen(QString)"));
    }

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? button()->text() : QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.hasPopup = true;
        state.expandable = true;
        state.expanded = button()->menu()->isVisible();
        state.collapsed = !state.expanded;
        return state;
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }

    void doAction(const QString& actionName) override
    {
        if (actionName == showMenuAction() || actionName == pressAction()) {
            button()->click();
        }
    }

private:
    OptionMenuButton* button() const { return static_cast<OptionMenuButton*>(widget()); }
};

} // namespace

OptionMenuButton::OptionMenuButton(QWidget* parent)
    : QAbstractButton(parent)
    , m_menu(new QMenu(this))
{
    Accessibility::describeClass<OptionMenuButton, OptionMenuAccessible>();
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
    connect(this, &QAbstractButton::clicked, this, &OptionMenuButton::showMenu);
    connect(m_menu, &QMenu::aboutToHide, this, qOverload<>(&QWidget::update));
    const auto announceExpanded = [this] {
        QAccessible::State changed;
        changed.expanded = true;
        changed.collapsed = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    };
    connect(m_menu, &QMenu::aboutToShow, this, announceExpanded);
    connect(m_menu, &QMenu::aboutToHide, this, announceExpanded);
}

void OptionMenuButton::setOptions(const QStringList& values, NameFunction name)
{
    if (values == m_values && name == m_name) {
        return;
    }
    m_values = values;
    m_name = name;
    m_checked = nullptr;
    m_longestName.clear();
    int longest = -1;
    for (const QString& value : values) {
        const QString shown = name(value);
        if (const int width = fontMetrics().horizontalAdvance(shown); width > longest) {
            longest = width;
            m_longestName = shown;
        }
    }
    m_menu->close();
    // Every action and page is a child of the menu: clearing deletes them. No menu holds more than a page's worth
    // of entries, so that adding each (which Qt checks against the ones already there) stays cheap.
    m_menu->clear();
    qDeleteAll(m_menu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly));
    m_actions = QList<QAction*>(values.size(), nullptr);

    if (values.size() <= pageSize) {
        addOptions(m_menu, 0, values.size());
        return;
    }
    // A page's entries are made when it first opens.
    for (qsizetype first = 0; first < values.size(); first += pageSize) {
        const qsizetype end = std::min(first + pageSize, values.size());
        auto* page = new QMenu(m_menu);
        page->setTitle(QStringLiteral("%1 – %2")
                           .arg(name(values[first]), name(values[end - 1]))
                           .replace(u'&', QStringLiteral("&&")));
        m_menu->addMenu(page);
        connect(page, &QMenu::aboutToShow, this, [this, page, first, end] {
            if (page->isEmpty()) {
                addOptions(page, first, end);
            }
        });
    }
}

// Adds the options from `first` up to `end` to `menu`, the current one checked.
void OptionMenuButton::addOptions(QMenu* menu, qsizetype first, qsizetype end)
{
    for (qsizetype i = first; i < end; ++i) {
        QAction* action = menu->addAction(m_name(m_values[i]).replace(u'&', QStringLiteral("&&")));
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, action, i] {
            // A click toggles the action; the marks follow the state, not the click.
            action->setChecked(false);
            checkCurrent();
            Q_EMIT optionChosen(m_values.value(i));
        });
        m_actions[i] = action;
    }
    checkCurrent();
}

void OptionMenuButton::setCurrent(const QString& value, const QString& name)
{
    const bool renamed = name != text();
    setText(name);
    Accessibility::setDescription(this, name);
    m_current = value;
    checkCurrent();
    if (renamed) {
        // A new value is announced: screen readers speak a combo box's new value.
        QAccessibleValueChangeEvent event(this, name);
        QAccessible::updateAccessibility(&event);
    }
}

// One option at most is checked: the current value's.
void OptionMenuButton::checkCurrent()
{
    const qsizetype index = m_values.indexOf(m_current);
    QAction* current = index >= 0 ? m_actions.value(index) : nullptr;
    if (m_checked && m_checked != current) {
        m_checked->setChecked(false);
    }
    if (current) {
        current->setChecked(true);
    }
    m_checked = current;
}

int OptionMenuButton::chevronSize() const
{
    return qRound(fontMetrics().height() * 0.85);
}

int OptionMenuButton::widthForEveryOption() const
{
    return std::max(sizeHint().width(),
                    2 * horizontalMargin + fontMetrics().horizontalAdvance(m_longestName) + spacing + chevronSize());
}

QSize OptionMenuButton::sizeHint() const
{
    const int textWidth = fontMetrics().horizontalAdvance(text());
    const int height = std::max(fontMetrics().height(), chevronSize()) + 2 * verticalMargin;
    return {2 * horizontalMargin + textWidth + spacing + chevronSize(), height};
}

QSize OptionMenuButton::minimumSizeHint() const
{
    return {2 * horizontalMargin + chevronSize(), sizeHint().height()};
}

void OptionMenuButton::showMenu()
{
    if (m_menu->isEmpty()) {
        return;
    }
    m_menu->setMinimumWidth(width());
    m_menu->popup(mapToGlobal(QPoint(0, height())));
    // The list opens on the current value, as a combo box's does: a screen reader speaks it, and Down goes on from
    // it. A long list opens on the page that holds it.
    if (m_checked) {
        m_menu->setActiveAction(m_checked->parent() == m_menu ? m_checked
                                                              : static_cast<QMenu*>(m_checked->parent())->menuAction());
    } else if (const qsizetype index = m_values.indexOf(m_current); index >= 0 && m_values.size() > pageSize) {
        m_menu->setActiveAction(m_menu->actions().value(index / pageSize));
    }
    update();
}

void OptionMenuButton::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Down:
    case Qt::Key_Up:
        showMenu();
        return;
    default:
        QAbstractButton::keyPressEvent(event);
    }
}

void OptionMenuButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        updateGeometry();
    }
    QAbstractButton::changeEvent(event);
}

void OptionMenuButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const bool pressed = isDown() || m_menu->isVisible();

    QColor fill = quaternaryFill(pal);
    if (pressed) {
        fill = blend(pal.color(QPalette::WindowText), pal.color(QPalette::Window), isDark(pal) ? 0.22 : 0.14);
    } else if (underMouse()) {
        fill = blend(pal.color(QPalette::WindowText), pal.color(QPalette::Window), isDark(pal) ? 0.17 : 0.1);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);

    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        drawFocusRing(painter, rect(), cornerRadius, pal, fill);
    }

    const QRect chevron = chevronRect();
    const QColor chevronColor = isEnabled() ? secondaryColor(pal) : tertiaryColor(pal);
    painter.drawPixmap(chevron, symbolPixmap(QStringLiteral("chevron.up.chevron.down"), chevronColor, chevron.width(),
                                             devicePixelRatioF()));

    painter.setPen(pal.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(textRect(), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, shownText());
}

QRect OptionMenuButton::chevronRect() const
{
    const int chevron = chevronSize();
    return {width() - horizontalMargin - chevron, (height() - chevron) / 2, chevron, chevron};
}

QRect OptionMenuButton::textRect() const
{
    return {horizontalMargin, 0, chevronRect().left() - spacing - horizontalMargin, height()};
}

QString OptionMenuButton::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, textRect().width());
}
