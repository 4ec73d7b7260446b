#include "panel/HeadingLabel.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {
class HeadingAccessible : public QAccessibleWidget
{
public:
    explicit HeadingAccessible(HeadingLabel* label)
        : QAccessibleWidget(label, QAccessible::Heading)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return static_cast<HeadingLabel*>(widget())->text();
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* headingAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("HeadingLabel") && object && object->isWidgetType()) {
        return new HeadingAccessible(static_cast<HeadingLabel*>(object));
    }
    return nullptr;
}
} // namespace

HeadingLabel::HeadingLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(headingAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled)
    setTextFormat(Qt::PlainText);
}
