#pragma once

#include <QList>
#include <QWidget>

class QLabel;
class QVBoxLayout;

// One group of the settings form: a header above a rounded card whose rows are parted by thin lines. A hidden row
// takes no room and gets no line.
class SettingsSection : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsSection(const QString& title, QWidget* parent = nullptr);

    void addRow(QWidget* row);

    // The card's colour under the rows: texts on it must read against it.
    static QColor cardColor(const QPalette& palette);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restyle();

    QLabel* m_header = nullptr;
    QWidget* m_card = nullptr;
    QVBoxLayout* m_rows = nullptr;
    QList<QWidget*> m_rowWidgets;
};
