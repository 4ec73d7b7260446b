#pragma once

#include <QComboBox>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

class QStyleOptionComboBox;

// The device picker: one entry per device, by name, carrying its id. Its list is replaced in one pass and only
// when it changed, and the closed picker cuts a name too long for it with an ellipsis.
class DevicePicker : public QComboBox
{
    Q_OBJECT

public:
    // A device's id and the name shown for it.
    using Entry = std::pair<QString, QString>;

    explicit DevicePicker(QWidget* parent = nullptr);

    void setEntries(const QList<Entry>& entries);
    // The entry with this id becomes the current one; no id, or one not listed, leaves none current.
    void setCurrentId(const std::optional<QString>& id);
    // What the closed picker shows: the current name, cut to fit.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString elided(const QStyleOptionComboBox& option) const;

    QList<Entry> m_entries;
};
