#include "app/UpdateAlertView.h"
#include "platform/Preferences.h"
#include "ui/LinkedTextLabel.h"
#include "updates/RichText.h"
#include "updates/UpdateService.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <atomic>
#include <cmath>
#include <thread>

#include <sys/stat.h>

namespace {
const QUrl notes(QStringLiteral("https://kelvo.example/notes"));

// An update service with a pending notice and the alert asked for, the browser captured; nothing goes online.
class Pending
{
public:
    Pending()
    {
        UpdateServiceHooks hooks;
        hooks.openUrl = [this](const QUrl& url) { opened.append(url); };
        hooks.log = [](const QString&) {};
        updater =
            std::make_unique<UpdateService>(preferences, nullptr, QUrl(QStringLiteral("https://kelvo.example")), hooks);
        updater->setUpdateText(
            richTextFromMarkdown(QStringLiteral("Kelvo 2 is out. See [the notes](%1).").arg(notes.toString())));
        updater->setShowUpdateAlert(true);
    }

    QTemporaryDir directory;
    Preferences preferences{directory.path()};
    std::unique_ptr<UpdateService> updater;
    QList<QUrl> opened;
};

QPushButton* button(QWidget& alert, const QString& text)
{
    const QList<QPushButton*> buttons = alert.findChildren<QPushButton*>();
    const auto it = std::find_if(buttons.begin(), buttons.end(), [&](QPushButton* b) { return b->text() == text; });
    return it == buttons.end() ? nullptr : *it;
}

QLabel* notice(QWidget& alert)
{
    return alert.findChild<QLabel*>(QStringLiteral("notice"));
}

// Where a widget of the alert sits, in the alert's own coordinates.
QRect placeOf(QWidget& alert, QWidget* widget)
{
    return QRect(widget->mapTo(&alert, QPoint(0, 0)), widget->size());
}

// The colour the shown notice draws its link in.
QColor linkColor(QLabel* label)
{
    QTextDocument document;
    document.setHtml(label->text());
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isAnchor()) {
                return it.fragment().charFormat().foreground().color();
            }
        }
    }
    return {};
}

// The contrast ratio of the accessibility guidelines: 1 (none) to 21.
qreal contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& color) {
        const auto channel = [](qreal v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
    };
    const qreal la = luminance(a);
    const qreal lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
} // namespace

class tst_UpdateAlertView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void noticeSitsBetweenTitleAndButtonsInTheFixedWidth();
    void choicesWriteTheService_data();
    void choicesWriteTheService();
    void noticeLinksOpenOnlyWebAddressesByPointerOrKeyboard();
    void noticeLoadsNoImage();
    void linksStayLegibleInEitherPalette_data();
    void linksStayLegibleInEitherPalette();
};

void tst_UpdateAlertView::noticeSitsBetweenTitleAndButtonsInTheFixedWidth()
{
    Pending pending;
    UpdateAlertView alert(*pending.updater);
    alert.show();
    auto* title = alert.findChild<QLabel*>(QStringLiteral("title"));
    QCOMPARE(title->text(), QStringLiteral("Update Available"));
    QPushButton* dismiss = button(alert, QStringLiteral("Dismiss"));
    QPushButton* download = button(alert, QStringLiteral("Download"));
    QVERIFY(dismiss && download && download->isDefault());
    QVERIFY(title->geometry().bottom() < placeOf(alert, notice(alert)).top());
    QVERIFY(placeOf(alert, notice(alert)).bottom() < dismiss->geometry().top());
    QVERIFY(dismiss->geometry().right() < download->geometry().left());
    QCOMPARE(placeOf(alert, notice(alert)).left(), 24);
    QCOMPARE(alert.width(), 350);
    const int shortHeight = alert.height();

    // A long notice wraps inside the insets, and the alert grows.
    pending.updater->setUpdateText(
        richTextFromMarkdown(QStringList(20, QString(40, QLatin1Char('x'))).join(QLatin1Char(' '))));
    QCOMPARE(alert.width(), 350);
    QCOMPARE(placeOf(alert, notice(alert)).right(), 350 - 24 - 1);
    QVERIFY(alert.height() > shortHeight + 100);
    QVERIFY(placeOf(alert, notice(alert)).bottom() < dismiss->geometry().top());

    // A notice taller than the screen scrolls inside an alert that fits on it, its buttons on screen.
    pending.updater->setUpdateText(richTextFromMarkdown(QStringLiteral("Line\n\n").repeated(2000)));
    const QRect screen = alert.screen()->availableGeometry();
    QVERIFY2(alert.height() <= screen.height(), qPrintable(QString::number(alert.height())));
    QVERIFY(alert.height() > screen.height() / 2);
    QVERIFY(dismiss->geometry().bottom() < alert.height());
    auto* scroll = alert.findChild<QScrollArea*>(QStringLiteral("noticeScroll"));
    QVERIFY(scroll->verticalScrollBar()->maximum() > 0);
    QVERIFY(notice(alert)->height() > screen.height());

    // A later check found the notice unchanged: the frame stays, without the notice.
    pending.updater->setUpdateText(std::nullopt);
    QVERIFY(!notice(alert)->isVisible());
    QVERIFY(alert.height() < shortHeight);
    QVERIFY(dismiss->isVisible() && download->isVisible());
}

void tst_UpdateAlertView::choicesWriteTheService_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("keepsNotice");
    QTest::addColumn<bool>("downloads");

    QTest::newRow("Dismiss") << "Dismiss" << false << false;
    QTest::newRow("Escape") << "Escape" << false << false;
    QTest::newRow("Download") << "Download" << true << true;
    QTest::newRow("Return") << "Return" << true << true;
    QTest::newRow("Return with Dismiss focused") << "Return on Dismiss" << true << true;
    QTest::newRow("window closed") << "close" << true << false;
}

void tst_UpdateAlertView::choicesWriteTheService()
{
    QFETCH(QString, how);
    QFETCH(bool, keepsNotice);
    QFETCH(bool, downloads);

    Pending pending;
    UpdateAlertView alert(*pending.updater);
    alert.show();
    const std::optional<RichText> text = pending.updater->updateText();
    QSignalSpy textChanges(pending.updater.get(), &UpdateService::updateTextChanged);

    if (how == QLatin1String("Escape")) {
        QTest::keyClick(&alert, Qt::Key_Escape);
    } else if (how == QLatin1String("Return")) {
        QTest::keyClick(&alert, Qt::Key_Return);
    } else if (how == QLatin1String("Return on Dismiss")) {
        button(alert, QStringLiteral("Dismiss"))->setFocus();
        QTest::keyClick(button(alert, QStringLiteral("Dismiss")), Qt::Key_Return);
    } else if (how == QLatin1String("close")) {
        alert.close();
    } else {
        QTest::mouseClick(button(alert, how), Qt::LeftButton);
    }

    QCOMPARE(pending.updater->showUpdateAlert(), false);
    QCOMPARE(pending.updater->updateText(), keepsNotice ? text : std::nullopt);
    QCOMPARE(textChanges.count(), keepsNotice ? 0 : 1);
    QCOMPARE(pending.opened,
             downloads ? QList<QUrl>{QUrl(QStringLiteral("https://kelvo.example/ac/Kelvo.zip"))} : QList<QUrl>{});
}

void tst_UpdateAlertView::noticeLinksOpenOnlyWebAddressesByPointerOrKeyboard()
{
    Pending pending;
    UpdateAlertView alert(*pending.updater);
    QVERIFY(!notice(alert)->openExternalLinks());
    Q_EMIT notice(alert)->linkActivated(notes.toString());
    Q_EMIT notice(alert)->linkActivated(QStringLiteral("file:///etc/passwd"));
    QCOMPARE(pending.opened, QList<QUrl>{notes});
    QVERIFY(pending.updater->showUpdateAlert()); // following a link is no answer

    // From the keyboard: Tab goes from Download to the link in the text (told to assistive technology as the
    // focused link), Enter opens it, the next Tab goes on to Dismiss.
    alert.show();
    QVERIFY(QTest::qWaitForWindowActive(&alert));
    auto* label = qobject_cast<LinkedTextLabel*>(notice(alert));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(label->focusedLink(), 0);
    QAccessibleInterface* link = QAccessible::queryAccessibleInterface(label)->focusChild();
    QVERIFY(link && link->role() == QAccessible::Link && link->state().focused);
    QCOMPARE(link->text(QAccessible::Name), "the notes");
    pending.opened.clear();
    QTest::keyClick(label, Qt::Key_Return);
    QCOMPARE(pending.opened, QList<QUrl>{notes});
    QTest::keyClick(label, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), button(alert, QStringLiteral("Dismiss")));
}

void tst_UpdateAlertView::noticeLoadsNoImage()
{
    // Opening the FIFO would block for ever and reading /dev/zero would exhaust memory; should either be touched,
    // the watchdog ends the test loudly rather than letting it hang.
    QTemporaryDir directory;
    const QString fifo = directory.filePath(QStringLiteral("image.png"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(directory.path())); // where the relative reference points
    std::atomic<bool> done = false;
    std::thread watchdog([&done] {
        for (int i = 0; i < 300 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!done) {
            qFatal("the notice opened an image");
        }
    });

    Pending pending;
    pending.updater->setUpdateText(richTextFromMarkdown(
        QStringLiteral("Kelvo 2 ![fifo](file://%1) ![zero](/dev/zero) ![zero](file:///dev/zero) ![rel](image.png) "
                       "![remote](https://kelvo.example/a.png) [![badge](image.png)](https://kelvo.example) is out.")
            .arg(fifo)));
    UpdateAlertView alert(*pending.updater);
    alert.show();
    QVERIFY(!alert.grab().isNull()); // lays the notice out and paints it
    done = true;
    watchdog.join();
    QDir::setCurrent(previous);

    QVERIFY(!pending.updater->updateText()->html.contains(QLatin1String("<img")));
    QVERIFY(!notice(alert)->text().contains(QLatin1String("<img")));
    QVERIFY(notice(alert)->text().contains(QLatin1String("Kelvo 2 fifo zero zero rel remote ")));
    QVERIFY(notice(alert)->text().contains(QLatin1String("badge is out.")));
}

void tst_UpdateAlertView::linksStayLegibleInEitherPalette_data()
{
    QTest::addColumn<QColor>("window");
    QTest::newRow("light") << QColor(0xef, 0xef, 0xef);
    QTest::newRow("dark") << QColor(0x30, 0x30, 0x30);
}

void tst_UpdateAlertView::linksStayLegibleInEitherPalette()
{
    QFETCH(QColor, window);
    Pending pending;
    UpdateAlertView alert(*pending.updater);
    QPalette palette = alert.palette();
    palette.setColor(QPalette::Window, window);
    alert.setPalette(palette);

    const QColor link = linkColor(notice(alert));
    QVERIFY2(link.hsvHueF() > 0.55 && link.hsvHueF() < 0.7, qPrintable(link.name())); // blue
    QVERIFY2(contrast(link, window) >= 3, qPrintable(link.name()));
}

QTEST_MAIN(tst_UpdateAlertView)
#include "tst_UpdateAlertView.moc"
