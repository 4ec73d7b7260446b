#pragma once

#include <QAccessible>
#include <QLabel>
#include <QList>

// A label of rich text whose links assistive technology reads as links: each is a child of the label, named by its
// text and described by its address, that can be pressed. The keyboard goes from link to link with Tab, shows a
// focus ring around the one it is on, and opens it with Enter or Space (linkActivated); a text without links is
// one stop, read whole.
class LinkedTextLabel : public QLabel
{
    Q_OBJECT

public:
    struct Link {
        QString text;
        QString address;
        int start = 0; // the link's characters in the document, [start, end)
        int end = 0;
    };

    explicit LinkedTextLabel(QWidget* parent = nullptr);
    ~LinkedTextLabel() override;

    void setRichText(const QString& html);
    const QList<Link>& links() const { return m_links; }
    // The link the keyboard is on, or -1.
    int focusedLink() const { return hasFocus() ? m_focused : -1; }
    // Where link `index` is drawn, in the label's coordinates (its first line when it wraps).
    QRect linkRect(int index) const;
    void activateLink(int index);

    // The accessible object of link `index`, made once per text.
    QAccessibleInterface* linkInterface(int index) const;

protected:
    bool focusNextPrevChild(bool next) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void focusLink(int index);
    // Tells assistive technology which link has the focus.
    void tellFocusedLink();
    void forgetLinkInterfaces();

    QList<Link> m_links;
    int m_focused = -1;
    mutable QList<QAccessible::Id> m_linkIds;
};
