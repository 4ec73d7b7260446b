#pragma once

#include <QAbstractButton>
#include <QList>
#include <QString>

#include <utility>

class QMenu;

// A compact pop-up button: the current value's name, and a chevron that says a menu opens. The menu lists the
// options by name; choosing one reports its raw value, even when it is the current one. The button itself never
// changes what it shows: its owner sets the name from the state.
class OptionMenuButton : public QAbstractButton
{
    Q_OBJECT

public:
    // An option's raw value and the name shown for it.
    using Option = std::pair<QString, QString>;

    explicit OptionMenuButton(QWidget* parent = nullptr);

    // The options in menu order; the menu is rebuilt only when they differ from the ones it holds.
    void setOptions(const QList<Option>& options);
    // The name of the current value, which need not be one of the options.
    void setCurrentName(const QString& name);

    QMenu* menu() const { return m_menu; }

    QSize sizeHint() const override;
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

    QMenu* m_menu;
    QList<Option> m_options;
};
