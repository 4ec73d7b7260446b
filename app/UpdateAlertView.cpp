#include "app/UpdateAlertView.h"

#include "ui/Accessibility.h"
#include "ui/LinkedTextLabel.h"
#include "ui/PanelStyle.h"
#include "ui/SymbolIcons.h"
#include "updates/RichText.h"
#include "updates/UpdateService.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

namespace {
constexpr int inset = 24;
constexpr int itemSpacing = 16;
constexpr int buttonSpacing = 12;

// The notice with its links in `color`: the plain blue they come in is lost on a dark background.
QString withLinkColor(const QString& html, const QColor& color)
{
    QTextDocument document;
    document.setHtml(html);
    replaceImagesWithText(document); // the label would load them
    QTextCharFormat linkStyle;
    linkStyle.setForeground(color);
    styleLinks(document, linkStyle, [](const QTextCharFormat& format) { return format.isAnchor(); });
    return document.toHtml();
}
} // namespace

UpdateAlertView::UpdateAlertView(UpdateService& updater, QWidget* parent)
    : QDialog(parent)
    , m_updater(updater)
{
    Accessibility::describeClass<UpdateAlertView, Accessibility::WithRole<QAccessible::Dialog>>();
    setWindowTitle(QStringLiteral("Update Available"));
    setFixedWidth(alertWidth);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(inset, inset, inset, inset);
    layout->setSpacing(itemSpacing);

    m_icon = new QLabel(this);
    m_icon->setFixedSize(iconSize, iconSize);
    Accessibility::hide(m_icon); // the title says it
    layout->addWidget(m_icon, 0, Qt::AlignHCenter);

    m_title = new QLabel(QStringLiteral("Update Available"), this);
    m_title->setObjectName(QStringLiteral("title"));
    layout->addWidget(m_title, 0, Qt::AlignHCenter);

    m_notice = new LinkedTextLabel(this);
    m_notice->setObjectName(QStringLiteral("notice"));
    m_notice->setWordWrap(true);
    m_notice->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_notice->setOpenExternalLinks(false);
    // Only web addresses leave the program, and only through the service.
    connect(m_notice, &QLabel::linkActivated, this, [this](const QString& link) { m_updater.openLink(QUrl(link)); });
    m_noticeScroll = new QScrollArea(this);
    m_noticeScroll->setObjectName(QStringLiteral("noticeScroll"));
    m_noticeScroll->setFrameShape(QFrame::NoFrame);
    m_noticeScroll->setFocusPolicy(Qt::NoFocus); // the notice itself, or its links, take the keyboard
    m_noticeScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_noticeScroll->setWidgetResizable(true);
    m_noticeScroll->setWidget(m_notice);
    m_noticeScroll->viewport()->setAutoFillBackground(false);
    m_notice->setAutoFillBackground(false);
    layout->addWidget(m_noticeScroll);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(buttonSpacing);
    m_dismissButton = new QPushButton(QStringLiteral("Dismiss"), this);
    m_downloadButton = new QPushButton(QStringLiteral("Download"), this);
    // Return always means Download, even while Dismiss has the focus.
    m_dismissButton->setAutoDefault(false);
    m_downloadButton->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(m_dismissButton, 0, Qt::AlignVCenter);
    buttons->addWidget(m_downloadButton, 0, Qt::AlignVCenter);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(m_dismissButton, &QPushButton::clicked, this, &UpdateAlertView::dismiss);
    connect(m_downloadButton, &QPushButton::clicked, this, &UpdateAlertView::download);
    m_downloadButton->setFocus();

    connect(&m_updater, &UpdateService::updateTextChanged, this, &UpdateAlertView::sync);
    restyle();
    sync();
}

void UpdateAlertView::sync()
{
    const std::optional<RichText> text = m_updater.updateText();
    m_noticeScroll->setVisible(text.has_value());
    m_notice->setRichText(text ? withLinkColor(text->html, systemBlue(palette())) : QString());
    fitHeight();
}

void UpdateAlertView::dismiss()
{
    m_updater.setShowUpdateAlert(false);
    m_updater.setUpdateText(std::nullopt);
}

void UpdateAlertView::download()
{
    m_updater.openDownload();
    m_updater.setShowUpdateAlert(false);
}

void UpdateAlertView::reject()
{
    m_updater.setShowUpdateAlert(false);
    QDialog::reject();
}

void UpdateAlertView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        dismiss();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void UpdateAlertView::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        restyle();
        sync();
    }
}

void UpdateAlertView::restyle()
{
    m_icon->setPixmap(symbolPixmap(QStringLiteral("arrow.down.circle.fill"), systemBlue(palette()), iconSize));
    QFont headline = font();
    headline.setBold(true);
    m_title->setFont(headline);
}

// The width is fixed; the height follows the wrapped notice, up to the height of the screen, past which the notice
// scrolls.
void UpdateAlertView::fitHeight()
{
    QLayout* content = layout();
    const int noticeWidth = alertWidth - 2 * inset;
    int noticeHeight = 0;
    if (!m_noticeScroll->isHidden()) {
        noticeHeight = m_notice->heightForWidth(noticeWidth);
        m_noticeScroll->setFixedHeight(noticeHeight);
    }
    content->activate();
    const int natural =
        content->hasHeightForWidth() ? content->heightForWidth(alertWidth) : content->sizeHint().height();
    const QScreen* shownOn = screen();
    // The window manager's frame takes its part of the screen too (known once the alert has been shown).
    const int room = shownOn ? shownOn->availableGeometry().height() - (frameGeometry().height() - height()) : natural;
    int height = natural;
    if (natural > room && noticeHeight > 0) {
        const int excess = natural - room;
        m_noticeScroll->setFixedHeight(std::max(noticeHeight - excess, fontMetrics().height()));
        content->activate();
        height = content->hasHeightForWidth() ? content->heightForWidth(alertWidth) : content->sizeHint().height();
    }
    setFixedHeight(height);
}
