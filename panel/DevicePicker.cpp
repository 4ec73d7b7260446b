#include "panel/DevicePicker.h"

#include <QStandardItemModel>
#include <QStyleOptionComboBox>
#include <QStylePainter>

DevicePicker::DevicePicker(QWidget* parent)
    : QComboBox(parent)
{}

void DevicePicker::setEntries(const QList<Entry>& entries)
{
    if (entries == m_entries) {
        return;
    }
    m_entries = entries;
    // A new model filled at once: adding the items one by one tells the picker of each.
    QList<QStandardItem*> items;
    items.reserve(entries.size());
    for (const auto& [id, name] : entries) {
        auto* item = new QStandardItem(name);
        item->setData(id, Qt::UserRole);
        items.append(item);
    }
    auto* list = new QStandardItemModel(this);
    list->appendColumn(items);
    setModel(list); // which deletes the model it replaces, a child of the picker
}

void DevicePicker::setCurrentId(const std::optional<QString>& id)
{
    // findData compares every item's data; a look through the entries is cheaper.
    qsizetype index = -1;
    for (qsizetype i = 0; id && i < m_entries.size(); ++i) {
        if (m_entries[i].first == *id) {
            index = i;
            break;
        }
    }
    setCurrentIndex(int(index));
}

QString DevicePicker::elided(const QStyleOptionComboBox& option) const
{
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    const int iconRoom = option.currentIcon.isNull() ? 0 : option.iconSize.width() + 4;
    return fontMetrics().elidedText(option.currentText, Qt::ElideRight, field.width() - iconRoom);
}

QString DevicePicker::shownText() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return elided(option);
}

void DevicePicker::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = elided(option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}
