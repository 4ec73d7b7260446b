#include "ui/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QMenu>
#include <QVariant>

namespace {
constexpr auto hiddenProperty = "kelvoAccessibleHidden";
constexpr auto statusProperty = "kelvoAccessibleStatus";

// A widget whose children are read without the ones left out.
class FilteredChildren : public QAccessibleWidget
{
public:
    explicit FilteredChildren(QWidget* widget)
        : QAccessibleWidget(widget)
    {}

    int childCount() const override { return int(shownChildren().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const QList<QWidget*> children = shownChildren();
        return index >= 0 && index < children.size() ? QAccessible::queryAccessibleInterface(children[index]) : nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child ? int(shownChildren().indexOf(qobject_cast<QWidget*>(child->object()))) : -1;
    }

private:
    // The children Qt reads (no windows, no menus), less the hidden ones.
    QList<QWidget*> shownChildren() const
    {
        QList<QWidget*> shown;
        for (QObject* object : widget()->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (child && !child->isWindow() && !qobject_cast<QMenu*>(child) &&
                !child->property(hiddenProperty).toBool()) {
                shown.append(child);
            }
        }
        return shown;
    }
};

QAccessibleInterface* factory(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType()) {
        return nullptr;
    }
    auto* widget = static_cast<QWidget*>(object);
    // Asked for the object's own class first, before Qt's interfaces for the classes it derives from.
    if (className == QLatin1String(object->metaObject()->className()) && widget->property(statusProperty).toBool()) {
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            // A status line: a notification, which screen readers speak when it shows.
            return new Accessibility::LabelWithRole<QAccessible::Notification>(label);
        }
    }
    // Reached only by widgets that no more specific interface describes: containers.
    if (className == QLatin1String("QWidget")) {
        return new FilteredChildren(widget);
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

void hide(QWidget* widget)
{
    installFactory();
    widget->setProperty(hiddenProperty, true);
}

void markStatus(QWidget* widget)
{
    installFactory();
    widget->setProperty(statusProperty, true);
}

void announce(QWidget* widget)
{
    // Screen readers present a notification when it shows; one already shown shows anew with its news.
    for (const auto type : {QAccessible::NameChanged, QAccessible::ObjectShow, QAccessible::Alert}) {
        QAccessibleEvent event(widget, type);
        QAccessible::updateAccessibility(&event);
    }
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
