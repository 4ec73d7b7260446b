#include "ui/LinkedTextLabel.h"

#include "ui/Accessibility.h"
#include "ui/PanelStyle.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QWindow>

namespace {

// One link of the text, for assistive technology.
class LinkAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    LinkAccessible(LinkedTextLabel* label, int index)
        : m_label(label)
        , m_index(index)
    {}

    bool isValid() const override { return m_label && m_index < m_label->links().size(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_label ? m_label->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_label.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::Link; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text t) const override
    {
        if (!isValid()) {
            return {};
        }
        const LinkedTextLabel::Link& link = m_label->links().at(m_index);
        switch (t) {
        case QAccessible::Name:
            return link.text;
        case QAccessible::Description:
            return link.address; // where it leads, which its text may not say
        default:
            return {};
        }
    }

    QRect rect() const override
    {
        return isValid() ? QRect(m_label->mapToGlobal(m_label->linkRect(m_index).topLeft()),
                                 m_label->linkRect(m_index).size())
                         : QRect();
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.linked = true;
        state.focused = m_label->focusedLink() == m_index;
        state.invisible = !m_label->isVisible();
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
    void doAction(const QString& actionName) override
    {
        if (isValid() && actionName == pressAction()) {
            m_label->activateLink(m_index);
        }
    }

private:
    QPointer<LinkedTextLabel> m_label;
    int m_index;
};

// The label: its whole text as its name, its links as its children.
class LinkedTextAccessible : public QAccessibleWidget
{
public:
    explicit LinkedTextAccessible(LinkedTextLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && label()->accessibleName().isEmpty()) {
            QTextDocument document;
            document.setHtml(label()->text());
            return document.toPlainText();
        }
        return QAccessibleWidget::text(t);
    }

    int childCount() const override { return int(label()->links().size()); }
    QAccessibleInterface* child(int index) const override { return label()->linkInterface(index); }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (int i = 0; i < childCount(); ++i) {
            if (label()->linkInterface(i) == child) {
                return i;
            }
        }
        return -1;
    }

    QAccessibleInterface* focusChild() const override
    {
        const int focused = label()->focusedLink();
        return focused >= 0 ? label()->linkInterface(focused) : QAccessibleWidget::focusChild();
    }

private:
    LinkedTextLabel* label() const { return static_cast<LinkedTextLabel*>(widget()); }
};

// The document the label lays out, laid out alike: for where its links are drawn.
void layOutLike(QTextDocument& document, const QLabel& label)
{
    document.setDefaultFont(label.font());
    document.setHtml(label.text());
    QTextOption option = document.defaultTextOption();
    option.setAlignment(label.alignment());
    option.setWrapMode(label.wordWrap() ? QTextOption::WordWrap : QTextOption::ManualWrap);
    document.setDefaultTextOption(option);
    QTextFrameFormat frame = document.rootFrame()->frameFormat();
    frame.setMargin(0);
    document.rootFrame()->setFrameFormat(frame);
    document.setTextWidth(label.contentsRect().width() - 2 * label.margin());
}

} // namespace

LinkedTextLabel::LinkedTextLabel(QWidget* parent)
    : QLabel(parent)
{
    Accessibility::describeClass<LinkedTextLabel, LinkedTextAccessible>();
    setTextFormat(Qt::RichText);
    // The pointer follows links as in any label; the keyboard is handled here, link by link.
    setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    setFocusPolicy(Qt::TabFocus);
}

LinkedTextLabel::~LinkedTextLabel()
{
    forgetLinkInterfaces();
}

void LinkedTextLabel::setRichText(const QString& html)
{
    forgetLinkInterfaces();
    setText(html);
    m_links.clear();
    m_focused = -1;
    QTextDocument document;
    document.setHtml(html);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (!format.isAnchor()) {
                continue;
            }
            // A link split into fragments by its styling is one link.
            const QString address = format.anchorHref();
            if (!m_links.isEmpty() && m_links.last().address == address && m_links.last().end == fragment.position()) {
                m_links.last().text += fragment.text();
                m_links.last().end = fragment.position() + fragment.length();
            } else {
                m_links.append(
                    {fragment.text(), address, fragment.position(), fragment.position() + fragment.length()});
            }
        }
    }
    update();
}

QRect LinkedTextLabel::linkRect(int index) const
{
    if (index < 0 || index >= m_links.size()) {
        return {};
    }
    const Link& link = m_links.at(index);
    QTextDocument document;
    layOutLike(document, *this);
    const QTextBlock block = document.findBlock(link.start);
    const QTextLayout* layout = block.layout();
    if (!layout) {
        return {};
    }
    const QPointF origin = document.documentLayout()->blockBoundingRect(block).topLeft();
    const int start = link.start - block.position();
    const QTextLine line = layout->lineForTextPosition(start);
    if (!line.isValid()) {
        return {};
    }
    const int end = std::min(link.end - block.position(), line.textStart() + line.textLength());
    const qreal left = line.cursorToX(start);
    const qreal right = line.cursorToX(end);
    const QPoint offset = contentsRect().topLeft() + QPoint(margin(), margin());
    return QRectF(origin.x() + left, origin.y() + line.y(), right - left, line.height())
        .toAlignedRect()
        .translated(offset);
}

void LinkedTextLabel::activateLink(int index)
{
    if (index >= 0 && index < m_links.size()) {
        Q_EMIT linkActivated(m_links.at(index).address);
    }
}

QAccessibleInterface* LinkedTextLabel::linkInterface(int index) const
{
    if (index < 0 || index >= m_links.size()) {
        return nullptr;
    }
    if (m_linkIds.size() != m_links.size()) {
        m_linkIds.clear();
        for (int i = 0; i < m_links.size(); ++i) {
            m_linkIds.append(
                QAccessible::registerAccessibleInterface(new LinkAccessible(const_cast<LinkedTextLabel*>(this), i)));
        }
    }
    return QAccessible::accessibleInterface(m_linkIds.at(index));
}

void LinkedTextLabel::forgetLinkInterfaces()
{
    for (const QAccessible::Id id : std::as_const(m_linkIds)) {
        QAccessible::deleteAccessibleInterface(id);
    }
    m_linkIds.clear();
}

void LinkedTextLabel::focusLink(int index)
{
    m_focused = index;
    update();
    tellFocusedLink();
}

void LinkedTextLabel::tellFocusedLink()
{
    if (const int focused = focusedLink(); focused >= 0) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(focused);
        QAccessible::updateAccessibility(&event);
    }
}

bool LinkedTextLabel::focusNextPrevChild(bool next)
{
    const int target = m_focused + (next ? 1 : -1);
    if (hasFocus() && m_focused >= 0 && target >= 0 && target < m_links.size()) {
        focusLink(target);
        return true;
    }
    return QFrame::focusNextPrevChild(next); // on past the label, not through Qt's own walk over the links
}

void LinkedTextLabel::focusInEvent(QFocusEvent* event)
{
    QLabel::focusInEvent(event);
    if (m_links.isEmpty()) {
        return;
    }
    // Tab comes to the first link, Shift+Tab to the last; the window coming back keeps the one it was on.
    if (event->reason() == Qt::BacktabFocusReason) {
        m_focused = int(m_links.size()) - 1;
    } else if (event->reason() != Qt::ActiveWindowFocusReason || m_focused < 0) {
        m_focused = 0;
    }
    update();
    // After Qt has told of the label's own focus, which follows this event.
    QMetaObject::invokeMethod(this, &LinkedTextLabel::tellFocusedLink, Qt::QueuedConnection);
}

void LinkedTextLabel::focusOutEvent(QFocusEvent* event)
{
    QLabel::focusOutEvent(event);
    update();
}

void LinkedTextLabel::keyPressEvent(QKeyEvent* event)
{
    const int focused = focusedLink();
    if (focused >= 0 &&
        (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space)) {
        activateLink(focused);
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void LinkedTextLabel::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    const int focused = focusedLink();
    if (focused >= 0) {
        QPainter painter(this);
        drawFocusRing(painter, linkRect(focused).adjusted(-3, -1, 3, 1), 3, palette(),
                      palette().color(QPalette::Window));
    }
}
