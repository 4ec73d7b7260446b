#pragma once

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

class QString;
class QWidget;

// What assistive technology reads beyond what Qt's widgets tell it by themselves.
namespace Accessibility {

// Leaves `widget` (a symbol beside a text, a divider) out of the tree that assistive technology reads.
void hide(QWidget* widget);

// Set the accessible name or description only when it changes: every setting is an event for assistive technology.
void setName(QWidget* widget, const QString& name);
void setDescription(QWidget* widget, const QString& description);

// From the first call on, assistive technology reads every widget of class `W` through `Interface`, which is built
// from the widget. Qt asks for the object's own class before the classes it derives from.
template <class W, class Interface> void describeClass()
{
    static const bool installed = [] {
        QAccessible::installFactory([](const QString& className, QObject* object) -> QAccessibleInterface* {
            if (object && object->isWidgetType() && className == QLatin1String(W::staticMetaObject.className())) {
                return new Interface(static_cast<W*>(object));
            }
            return nullptr;
        });
        return true;
    }();
    Q_UNUSED(installed)
}

// A widget whose children are read without the ones hide() left out.
class FilteredChildren : public QAccessibleWidget
{
public:
    explicit FilteredChildren(QWidget* widget, QAccessible::Role role = QAccessible::Client);

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;

private:
    QList<QWidget*> shownChildren() const;
};

// A widget read in another role than its class's own (a window, a dialog), its children filtered.
template <QAccessible::Role Role> class WithRole : public FilteredChildren
{
public:
    explicit WithRole(QWidget* widget)
        : FilteredChildren(widget, Role)
    {}
};

// A label read in another role (a heading, a notification), named by its text unless it has a name of its own.
template <QAccessible::Role Role> class LabelWithRole : public QAccessibleWidget
{
public:
    explicit LabelWithRole(QLabel* label)
        : QAccessibleWidget(label, Role)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return static_cast<QLabel*>(widget())->text();
        }
        return QAccessibleWidget::text(t);
    }
};

} // namespace Accessibility
