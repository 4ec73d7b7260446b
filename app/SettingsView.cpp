#include "app/SettingsView.h"

#include "ui/LinkButton.h"
#include "ui/SettingsSection.h"
#include "ui/Accessibility.h"
#include "ui/Announcer.h"
#include "ui/BusySpinner.h"
#include "ui/ElidedLabel.h"
#include "ui/PanelStyle.h"
#include "ui/ToggleSwitch.h"
#include "platform/LoginItem.h"
#include "platform/PreferenceKeys.h"
#include "platform/Preferences.h"
#include "ui/SymbolIcons.h"
#include "service/SensiboService.h"
#include "app/UpdateAlertView.h"
#include "updates/UpdateService.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoroTask>
#include <QDesktopServices>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace {
// The Sensibo web app, on the same host as the cloud API.
constexpr auto sensiboWebHost = "home.sensibo.com";
constexpr auto apiSettingsPath = "/me/api";

constexpr int spinnerSize = 16;
constexpr int formMargin = 20;
constexpr int sectionSpacing = 20;
constexpr int layoutPasses = 8;

BusySpinner* smallSpinner(QWidget* parent, const QString& objectName)
{
    auto* spinner = new BusySpinner(parent);
    spinner->setObjectName(objectName);
    spinner->setFixedSize(spinnerSize, spinnerSize);
    return spinner;
}

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}
} // namespace

SettingsView::SettingsView(SensiboService& service, UpdateService& updater, Preferences& preferences,
                           std::unique_ptr<LoginItem> loginItem, About about, std::function<void(const QUrl&)> openUrl,
                           QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_service(service)
    , m_updater(updater)
    , m_preferences(preferences)
    , m_loginItem(std::move(loginItem))
    , m_openUrl(std::move(openUrl))
    , m_launchAtLogin(m_loginItem && m_loginItem->isEnabled())
{
    if (!m_openUrl) {
        m_openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    }
    // For assistive technology the window is a dialog, not an anonymous filler.
    Accessibility::describeClass<SettingsView, Accessibility::WithRole<QAccessible::Dialog>>();
    setWindowTitle(QStringLiteral("Kelvo Settings"));

    auto* form = new QWidget;
    m_form = form;
    auto* formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(formMargin, formMargin, formMargin, 0);
    formLayout->setSpacing(sectionSpacing);
    formLayout->addWidget(buildApiSection());
    formLayout->addWidget(buildUpdatesSection());
    formLayout->addWidget(buildGeneralSection());
    formLayout->addStretch();

    // The form scrolls over the window's own background; the footer stays at the bottom.
    auto* scroll = new QScrollArea(this);
    m_scroll = scroll;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    // Only the controls inside take the keyboard; the scroll area follows the focus by itself.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidget(form);
    form->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(scroll, 1);
    layout->addWidget(m_footer = buildFooter(about));

    m_announcer = new Announcer(this);
    m_updateAlert = new UpdateAlertView(m_updater, this);
    m_updateAlert->setObjectName(QStringLiteral("updateAlert"));
    m_updateAlert->setWindowModality(Qt::WindowModal);

    connect(&m_service, &SensiboService::apiKeyChanged, this, &SettingsView::sync);
    connect(&m_service, &SensiboService::isLoadingChanged, this, &SettingsView::sync);
    connect(&m_service, &SensiboService::devicesChanged, this, &SettingsView::sync);
    connect(&m_service, &SensiboService::errorMessageChanged, this, &SettingsView::sync);
    connect(&m_service, &SensiboService::keySaveErrorChanged, this, &SettingsView::sync);
    connect(&m_service, &SensiboService::connectErrorChanged, this, &SettingsView::sync);
    connect(&m_service, &SensiboService::settingsProblemChanged, this, &SettingsView::sync);
    connect(&m_service, &SensiboService::useMonochromeIconsChanged, this, &SettingsView::sync);
    connect(&m_updater, &UpdateService::autoCheckForUpdatesChanged, this, &SettingsView::sync);
    connect(&m_updater, &UpdateService::isCheckingChanged, this, &SettingsView::sync);
    connect(&m_updater, &UpdateService::updateTextChanged, this, &SettingsView::sync);
    connect(&m_updater, &UpdateService::showUpdateAlertChanged, this, &SettingsView::sync);
    // The two choices kept in the preferences are stored when they change while the window is open, wherever the
    // change came from.
    connect(&m_updater, &UpdateService::autoCheckForUpdatesChanged, this,
            [this] { storeWhileShown(PreferenceKeys::autoCheckForUpdates, m_updater.autoCheckForUpdates()); });
    connect(&m_service, &SensiboService::useMonochromeIconsChanged, this,
            [this] { storeWhileShown(PreferenceKeys::useMonochromeIcons, m_service.useMonochromeIcons()); });

    restyle();
    sync();
    m_apiKeyField->setFocus(Qt::OtherFocusReason); // where the window starts
    fitToContent();
}

SettingsView::~SettingsView() = default;

// The window is as large as its content wants, and at least its designed size, but never larger than the screen's
// available area: the form scrolls inside instead. The user may resize it.
void SettingsView::fitToContent()
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    // Room for the window manager's frame around the window.
    const QSize decorations =
        isVisible() && frameGeometry().size() != size() ? frameGeometry().size() - size() : QSize(0, frameAllowance);
    fitInto(screen->availableGeometry().size() - decorations);
}

void SettingsView::fitInto(const QSize& room)
{
    // A new font's sizes reach the window through posted layout requests, one widget level per pass.
    ensurePolished();
    for (int pass = 0; pass < layoutPasses; ++pass) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
    layout()->activate();
    const int scrollBar = m_scroll->verticalScrollBar()->sizeHint().width();
    const QSize form = m_form->sizeHint();
    const QSize wanted(std::max(windowWidth, form.width() + scrollBar),
                       std::max(windowHeight, form.height() + layout()->spacing() + m_footer->sizeHint().height()));
    setMinimumSize(std::min(m_form->minimumSizeHint().width() + scrollBar, room.width()),
                   std::min(m_footer->sizeHint().height() + minimumFormHeight, room.height()));
    resize(wanted.boundedTo(room));
}

QUrl SettingsView::apiSettingsUrl()
{
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QLatin1String(sensiboWebHost));
    url.setPath(QLatin1String(apiSettingsPath));
    return url;
}

QString SettingsView::versionText(const std::optional<QString>& shortVersion, const std::optional<QString>& build)
{
    return QStringLiteral("Version %1 (%2)")
        .arg(shortVersion.value_or(QStringLiteral("1.0")), build.value_or(QStringLiteral("1")));
}

QWidget* SettingsView::buildApiSection()
{
    auto* section = new SettingsSection(QStringLiteral("Sensibo API"));

    auto* keyRow = new QWidget;
    auto* keyLayout = new QHBoxLayout(keyRow);
    m_apiKeyField = new QLineEdit(keyRow);
    m_apiKeyField->setObjectName(QStringLiteral("apiKeyField"));
    m_apiKeyField->setPlaceholderText(QStringLiteral("API Key"));
    m_apiKeyField->setAccessibleName(QStringLiteral("API Key"));
    keyLayout->addWidget(m_apiKeyField);
    // Typing changes the key the service uses at once; only Save & Connect stores it.
    connect(m_apiKeyField, &QLineEdit::textEdited, this, [this](const QString& text) { m_service.setApiKey(text); });
    // Return in the field presses the window's default button.
    connect(m_apiKeyField, &QLineEdit::returnPressed, this, [this] {
        if (m_saveButton->isEnabled()) {
            m_saveButton->click();
        }
    });
    section->addRow(keyRow);

    auto* help = new QWidget;
    auto* helpLayout = new QVBoxLayout(help);
    helpLayout->setSpacing(4);
    for (const QString& line :
         {QStringLiteral("To generate an API key:"), QStringLiteral("1. Sign in at ") + QLatin1String(sensiboWebHost),
          QStringLiteral("2. Go to the menu at upper left, then API")}) {
        QLabel* label = plainLabel(line, help);
        m_helpLines.append(label);
        helpLayout->addWidget(label);
    }
    m_apiSettingsLink = new LinkButton(QStringLiteral("Open Sensibo API Settings"), help);
    m_apiSettingsLink->setObjectName(QStringLiteral("apiSettingsLink"));
    connect(m_apiSettingsLink, &LinkButton::clicked, this, [this] { m_openUrl(apiSettingsUrl()); });
    helpLayout->addWidget(m_apiSettingsLink, 0, Qt::AlignLeft);
    section->addRow(help);

    auto* connectRow = new QWidget;
    auto* connectLayout = new QHBoxLayout(connectRow);
    // "&&" is how a button shows one ampersand instead of a keyboard shortcut.
    m_saveButton = new QPushButton(QStringLiteral("Save && Connect"), connectRow);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setAccessibleName(QStringLiteral("Save & Connect"));
    // The window's default button: Return in the key field presses it (below), and so does Return while it has the
    // focus, which Qt leaves to auto-default buttons outside a dialog.
    m_saveButton->setAutoDefault(true);
    connect(m_saveButton, &QPushButton::clicked, this, &SettingsView::saveAndConnect);
    connectLayout->addWidget(m_saveButton);
    connectLayout->addStretch();
    m_connectSpinner = smallSpinner(connectRow, QStringLiteral("connectSpinner"));
    connectLayout->addWidget(m_connectSpinner);
    m_devicesText = new QLabel;
    m_devicesText->setObjectName(QStringLiteral("devicesText"));
    m_devicesStatus = symbolLabel(connectRow, m_devicesIcon, m_devicesText, QStringLiteral("devicesStatus"));
    connectLayout->addWidget(m_devicesStatus);
    m_errorText = new ElidedLabel;
    m_errorText->setObjectName(QStringLiteral("errorText"));
    // Shrinks to what the row leaves, never grows past the message itself.
    m_errorText->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_errorStatus = symbolLabel(connectRow, m_errorIcon, m_errorText, QStringLiteral("errorStatus"));
    m_errorStatus->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    connectLayout->addWidget(m_errorStatus);
    section->addRow(connectRow);
    return section;
}

QWidget* SettingsView::buildUpdatesSection()
{
    auto* section = new SettingsSection(QStringLiteral("Updates"));
    QWidget* autoRow = toggleRow(QStringLiteral("Check for updates automatically"), m_autoCheckSwitch,
                                 QStringLiteral("autoCheckSwitch"));
    connect(m_autoCheckSwitch, &ToggleSwitch::switchRequested, this,
            [this](bool on) { m_updater.setAutoCheckForUpdates(on); });
    section->addRow(autoRow);

    auto* checkRow = new QWidget;
    auto* checkLayout = new QHBoxLayout(checkRow);
    m_checkNowButton = new QPushButton(QStringLiteral("Check Now"), checkRow);
    m_checkNowButton->setObjectName(QStringLiteral("checkNowButton"));
    connect(m_checkNowButton, &QPushButton::clicked, this, &SettingsView::checkNow);
    checkLayout->addWidget(m_checkNowButton);
    m_checkSpinner = smallSpinner(checkRow, QStringLiteral("checkSpinner"));
    checkLayout->addWidget(m_checkSpinner);
    checkLayout->addStretch();
    m_lastChecked = plainLabel(QString(), checkRow);
    m_lastChecked->setObjectName(QStringLiteral("lastChecked"));
    checkLayout->addWidget(m_lastChecked);
    section->addRow(checkRow);

    m_updateAvailableRow = new QWidget;
    m_updateAvailableRow->setObjectName(QStringLiteral("updateAvailable"));
    auto* updateLayout = new QHBoxLayout(m_updateAvailableRow);
    m_updateAvailableText = new QLabel(QStringLiteral("Update available"));
    updateLayout->addWidget(symbolLabel(m_updateAvailableRow, m_updateAvailableIcon, m_updateAvailableText,
                                        QStringLiteral("updateAvailableLabel")));
    updateLayout->addStretch();
    section->addRow(m_updateAvailableRow);
    return section;
}

QWidget* SettingsView::buildGeneralSection()
{
    auto* section = new SettingsSection(QStringLiteral("General"));
    section->addRow(toggleRow(QStringLiteral("Launch automatically at login"), m_launchAtLoginSwitch,
                              QStringLiteral("launchAtLoginSwitch")));
    connect(m_launchAtLoginSwitch, &ToggleSwitch::switchRequested, this, &SettingsView::setLaunchAtLogin);
    section->addRow(toggleRow(QStringLiteral("Only use black and white menu bar icons"), m_monochromeSwitch,
                              QStringLiteral("monochromeSwitch")));
    connect(m_monochromeSwitch, &ToggleSwitch::switchRequested, this,
            [this](bool on) { m_service.setUseMonochromeIcons(on); });
    return section;
}

QWidget* SettingsView::buildFooter(const About& about)
{
    auto* footer = new QWidget(this);
    auto* layout = new QVBoxLayout(footer);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->setSpacing(4);

    auto* attribution = new QHBoxLayout;
    attribution->setSpacing(0);
    m_attribution = plainLabel(QStringLiteral("Built with love by "), footer);
    m_attribution->setObjectName(QStringLiteral("attribution"));
    m_makerLink = new LinkButton(about.makerName, footer);
    m_makerLink->setObjectName(QStringLiteral("makerLink"));
    connect(m_makerLink, &LinkButton::clicked, this, [this, site = about.makerSite] { m_openUrl(site); });
    attribution->addStretch();
    attribution->addWidget(m_attribution);
    attribution->addWidget(m_makerLink);
    attribution->addStretch();
    layout->addLayout(attribution);

    m_version = new QLabel(versionText(about.shortVersion, about.build), footer);
    m_version->setObjectName(QStringLiteral("version"));
    layout->addWidget(m_version, 0, Qt::AlignHCenter);
    return footer;
}

QWidget* SettingsView::toggleRow(const QString& title, ToggleSwitch*& toggle, const QString& objectName)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    auto* label = new QLabel(title, row);
    layout->addWidget(label, 1);
    toggle = new ToggleSwitch(row);
    toggle->setObjectName(objectName);
    toggle->setAccessibleName(title);
    label->setBuddy(toggle);
    layout->addWidget(toggle, 0, Qt::AlignVCenter);
    return row;
}

void SettingsView::sync()
{
    if (m_apiKeyField->text() != m_service.apiKey()) {
        const int cursor = m_apiKeyField->cursorPosition();
        m_apiKeyField->setText(m_service.apiKey());
        m_apiKeyField->setCursorPosition(std::min<int>(cursor, m_service.apiKey().size()));
    }
    m_saveButton->setEnabled(!m_service.apiKey().isEmpty());
    syncConnectionStatus();

    m_autoCheckSwitch->setChecked(m_updater.autoCheckForUpdates());
    m_checkNowButton->setEnabled(!m_updater.isChecking());
    m_checkSpinner->setVisible(m_updater.isChecking());
    if (!m_updater.hasUpdateSite()) {
        m_lastChecked->setText(QStringLiteral("No update site in this build"));
        m_lastChecked->setVisible(true);
    } else {
        const std::optional<QString> lastChecked = m_updater.lastCheckedDescription();
        m_lastChecked->setText(lastChecked ? QStringLiteral("Last checked ") + *lastChecked : QString());
        m_lastChecked->setVisible(lastChecked.has_value());
    }
    m_updateAvailableRow->setVisible(m_updater.updateText().has_value());

    m_launchAtLoginSwitch->setChecked(m_launchAtLogin);
    m_monochromeSwitch->setChecked(m_service.useMonochromeIcons());
    syncUpdateAlert();
}

// One status at a time: loading wins over what was not saved (the key, then any other setting, then launch at
// login), which wins over a failed Save & Connect, which wins over the devices found, which win over an error. "2 devices found" over a key
// the next start will not have, or over a key the cloud just refused, would read as success.
void SettingsView::syncConnectionStatus()
{
    const bool loading = m_service.isLoading();
    const qsizetype count = m_service.devices().size();
    std::optional<QString> failure = m_service.keySaveError();
    if (!failure) {
        failure = m_service.settingsProblem();
    }
    if (!failure) {
        failure = m_loginItemError;
    }
    if (!failure) {
        failure = m_service.connectError();
    }
    const bool showDevices = !loading && !failure && count > 0;
    const std::optional<QString> error = failure ? failure : count == 0 ? m_service.errorMessage() : std::nullopt;
    const bool showError = !loading && error.has_value();

    m_connectSpinner->setVisible(loading);
    if (showDevices) {
        m_devicesText->setText(
            QStringLiteral("%1 device%2 found").arg(count).arg(count == 1 ? QLatin1String("") : QLatin1String("s")));
    }
    m_devicesStatus->setVisible(showDevices);
    m_errorText->setFullText(showError ? *error : QString());
    m_errorStatus->setVisible(showError);

    // Said once, when it changes: a load in between (every 30 s) is no change.
    if (!loading) {
        m_announcer->say(showDevices ? m_devicesText->text() : showError ? *error : QString());
    }
}

void SettingsView::syncUpdateAlert()
{
    const bool present = m_updater.showUpdateAlert() && isVisible();
    if (present == m_updateAlert->isVisible()) {
        return;
    }
    // The alert is centred over this window, so it waits for the window's first appearance: before that, the
    // window manager has not yet placed the window and the alert would land elsewhere.
    if (present && !m_placed) {
        if (QWindow* handle = windowHandle(); handle && !handle->isExposed()) {
            handle->removeEventFilter(this);
            handle->installEventFilter(this);
            return;
        }
        m_placed = true;
    }
    if (present) {
        m_updateAlert->show();
        m_updateAlert->raise();
        m_updateAlert->activateWindow();
    } else {
        // Hidden, not closed: closing would tell the service the user sent the alert away.
        m_updateAlert->hide();
    }
}

void SettingsView::restyle()
{
    const QPalette& pal = palette();
    const QFont caption = captionFont(font());
    const int symbolSize = QFontMetrics(caption).height();
    // The form's texts stand on the sections' cards, which are lighter than the window.
    const QColor card = SettingsSection::cardColor(pal);
    const QColor secondary = readableOn(secondaryColor(pal), card, textContrast);
    const QColor green = readableOn(systemGreen(pal), card, textContrast);
    const QColor red = readableOn(systemRed(pal), card, textContrast);
    const QColor blue = readableOn(systemBlue(pal), card, textContrast);
    for (QLabel* label : std::as_const(m_helpLines)) {
        label->setFont(caption);
        setTextColor(label, secondary);
    }
    m_apiSettingsLink->setFont(caption);

    for (QWidget* text : {static_cast<QWidget*>(m_devicesText), static_cast<QWidget*>(m_errorText),
                          static_cast<QWidget*>(m_updateAvailableText), static_cast<QWidget*>(m_lastChecked)}) {
        text->setFont(caption);
    }
    setTextColor(m_devicesText, green);
    m_devicesIcon->setPixmap(symbolPixmap(QStringLiteral("checkmark.circle.fill"), green, symbolSize));
    setTextColor(m_errorText, red);
    m_errorIcon->setPixmap(symbolPixmap(QStringLiteral("xmark.circle.fill"), red, symbolSize));
    setTextColor(m_updateAvailableText, blue);
    m_updateAvailableIcon->setPixmap(symbolPixmap(QStringLiteral("arrow.down.circle.fill"), blue, symbolSize));
    setTextColor(m_lastChecked, secondary);

    m_attribution->setFont(caption);
    setTextColor(m_attribution, secondaryColor(pal));
    m_makerLink->setFont(caption);
    m_version->setFont(caption2Font(font()));
    setTextColor(m_version, secondaryColor(pal));
}

void SettingsView::saveAndConnect()
{
    // A key the disk refused still connects: this run uses it, and the status row tells what was not saved. The
    // work belongs to the service, which outlives this window.
    m_announcer->expectAnswer(); // the answer to this Save is said even when it repeats the last one
    m_service.saveAndConnect();
}

void SettingsView::checkNow()
{
    m_updater.checkForUpdates(false); // the check belongs to the service, which outlives this window
}

void SettingsView::setLaunchAtLogin(bool enabled)
{
    if (enabled == m_launchAtLogin) {
        return;
    }
    m_launchAtLogin = enabled;
    if (isVisible() && m_loginItem) {
        const bool done = enabled ? m_loginItem->registerItem() : m_loginItem->unregisterItem();
        // The switch shows what the system kept, and the status row why it did not take the change.
        m_loginItemError.reset();
        if (!done) {
            m_launchAtLogin = m_loginItem->isEnabled();
            m_loginItemError = QStringLiteral("Could not change launch at login: ") + m_loginItem->lastError();
        }
    }
    sync();
}

void SettingsView::storeWhileShown(const char* key, bool value)
{
    if (isVisible()) {
        m_preferences.setBool(QLatin1String(key), value);
    }
}

void SettingsView::showAndActivate()
{
    if (isMinimized()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    show();
    raise();
    activateWindow();
    // X11 window managers keep a window of another application from taking the focus; asking for the active
    // state sends them the request they honour.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        setWindowState(windowState() | Qt::WindowActive);
    }
}

bool SettingsView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Expose && watched == windowHandle() && windowHandle()->isExposed()) {
        watched->removeEventFilter(this);
        m_placed = true;
        // Queued, so that the window's geometry has taken the position the window manager gave it.
        QMetaObject::invokeMethod(this, &SettingsView::syncUpdateAlert, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The last-check text is worked out when the window comes up, then on each change.
    sync();
}

void SettingsView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    syncUpdateAlert();
}

void SettingsView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        restyle();
    }
    if (event->type() == QEvent::FontChange) {
        QTimer::singleShot(0, this, &SettingsView::fitToContent); // once every widget has the new font
    }
}

void SettingsView::keyPressEvent(QKeyEvent* event)
{
    // A settings window closes from the keyboard too; with the alert open, its own Escape (Dismiss) comes first.
    if (event->key() == Qt::Key_Escape || event->matches(QKeySequence::Close)) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
