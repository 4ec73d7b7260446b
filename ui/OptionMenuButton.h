#pragma once

#include <QAbstractButton>
#include <QList>
#include <QString>

class QMenu;

// A compact pop-up button: the current value's name, and a chevron that says a menu opens. The menu lists the
// options by name, the current one checked; choosing one reports its raw value, even when it is the current one.
// The button itself never changes what it shows: its owner sets the current value from the state. A long list is
// split into pages of at most `pageSize` options, each a submenu filled when it first opens, so that neither
// building nor opening it stalls.
class OptionMenuButton : public QAbstractButton
{
    Q_OBJECT

public:
    static constexpr qsizetype pageSize = 500;
    using NameFunction = QString (*)(const QString&);

    explicit OptionMenuButton(QWidget* parent = nullptr);

    // The options' raw values in menu order, shown by `name`; the menu is rebuilt only when they differ from the
    // ones it holds.
    void setOptions(const QStringList& values, NameFunction name);
    // The current value, which need not be one of the options, and the name shown for it.
    void setCurrent(const QString& value, const QString& name);

    QMenu* menu() const { return m_menu; }
    // The current value's name as the closed button shows it: cut with "…" when it does not fit.
    QString shownText() const;

    QSize sizeHint() const override;
    // The width at which the longest option's name shows whole.
    int widthForEveryOption() const;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void optionChosen(const QString& value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void showMenu();
    int chevronSize() const;
    QRect chevronRect() const;
    QRect textRect() const;
    void checkCurrent();
    void addOptions(QMenu* menu, qsizetype first, qsizetype end);

    QMenu* m_menu;
    QStringList m_values;
    NameFunction m_name = nullptr;
    QList<QAction*> m_actions; // one per value, in the same order; none for a page not yet opened
    QString m_current;
    QString m_longestName;
    QAction* m_checked = nullptr;
};
