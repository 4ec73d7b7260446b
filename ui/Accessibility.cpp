#include "ui/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMenu>
#include <QVariant>

namespace {
constexpr auto hiddenProperty = "kelvoAccessibleHidden";

QAccessibleInterface* factory(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType()) {
        return nullptr;
    }
    // Reached only by widgets that no more specific interface describes: containers.
    if (className == QLatin1String("QWidget")) {
        return new Accessibility::FilteredChildren(static_cast<QWidget*>(object));
    }
    return nullptr;
}

void installFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed)
}
} // namespace

namespace Accessibility {

FilteredChildren::FilteredChildren(QWidget* widget, QAccessible::Role role)
    : QAccessibleWidget(widget, role)
{}

int FilteredChildren::childCount() const
{
    return int(shownChildren().size());
}

QAccessibleInterface* FilteredChildren::child(int index) const
{
    const QList<QWidget*> children = shownChildren();
    return index >= 0 && index < children.size() ? QAccessible::queryAccessibleInterface(children[index]) : nullptr;
}

int FilteredChildren::indexOfChild(const QAccessibleInterface* child) const
{
    return child ? int(shownChildren().indexOf(qobject_cast<QWidget*>(child->object()))) : -1;
}

// The children Qt reads (no windows, no menus), less the hidden ones.
QList<QWidget*> FilteredChildren::shownChildren() const
{
    QList<QWidget*> shown;
    for (QObject* object : widget()->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child && !child->isWindow() && !qobject_cast<QMenu*>(child) && !child->property(hiddenProperty).toBool()) {
            shown.append(child);
        }
    }
    return shown;
}

void hide(QWidget* widget)
{
    installFactory();
    widget->setProperty(hiddenProperty, true);
}

void setName(QWidget* widget, const QString& name)
{
    if (widget->accessibleName() != name) {
        widget->setAccessibleName(name);
    }
}

void setDescription(QWidget* widget, const QString& description)
{
    if (widget->accessibleDescription() != description) {
        widget->setAccessibleDescription(description);
    }
}

} // namespace Accessibility
