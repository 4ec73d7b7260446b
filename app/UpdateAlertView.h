#pragma once

#include <QDialog>

class LinkedTextLabel;
class QLabel;
class QPushButton;
class QScrollArea;
class UpdateService;

// The changed update notice with its two choices: Download (Return) and Dismiss (Escape). Whoever presents the
// alert shows and hides it as the service's showUpdateAlert says; the alert only writes the service, and reads
// nothing but the notice text. It is never taller than the screen: a long notice scrolls inside it.
class UpdateAlertView : public QDialog
{
    Q_OBJECT

public:
    static constexpr int alertWidth = 350;
    static constexpr int iconSize = 40;

    explicit UpdateAlertView(UpdateService& updater, QWidget* parent = nullptr);

public Q_SLOTS:
    void sync();
    // The desktop closed the window: the alert goes, the notice stays pending.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void dismiss();
    void download();
    void restyle();
    void fitHeight();

    UpdateService& m_updater;
    QLabel* m_icon = nullptr;
    QLabel* m_title = nullptr;
    LinkedTextLabel* m_notice = nullptr;
    QScrollArea* m_noticeScroll = nullptr;
    QPushButton* m_dismissButton = nullptr;
    QPushButton* m_downloadButton = nullptr;
};
