#include "panel/MenuBarView.h"

#include "ui/Accessibility.h"
#include "ui/BusySpinner.h"
#include "panel/DeviceView.h"
#include "ui/PanelStyle.h"
#include "ui/StatusLabel.h"
#include "ui/SymbolIcons.h"
#include "service/SensiboService.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int borderWidth = 1;
constexpr int stateMargin = 20;
constexpr int stateSpacing = 12;

QVBoxLayout* stateLayout(QWidget* state)
{
    auto* layout = new QVBoxLayout(state);
    layout->setContentsMargins(stateMargin, stateMargin, stateMargin, stateMargin);
    layout->setSpacing(stateSpacing);
    return layout;
}

// A status reports an outcome, which assistive technology is told of.
QLabel* centredLabel(const QString& text, const QString& objectName, QWidget* parent, bool status = false)
{
    auto* label = status ? new StatusLabel(text, parent) : new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* wrappedLabel(const QString& text, const QString& objectName, QWidget* parent, bool status = false)
{
    QLabel* label = centredLabel(text, objectName, parent, status);
    label->setWordWrap(true);
    return label;
}
} // namespace

MenuBarView::MenuBarView(SensiboService& service, UpdateService& updater, std::function<void()> openSettings,
                         qreal controlWidth, QWidget* parent)
    : QWidget(parent)
    , m_service(service)
    , m_openSettings(std::move(openSettings))
{
    setObjectName(QStringLiteral("menuBarView"));
    setFixedWidth(panelWidth);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(borderWidth, borderWidth, borderWidth, borderWidth); // inside the border
    layout->setSpacing(0);
    layout->addWidget(m_noKeyState = buildNoKeyState());
    layout->addWidget(m_loadingState = buildLoadingState());
    layout->addWidget(m_messageState = buildMessageState());
    layout->addWidget(m_deviceView = new DeviceView(m_service, updater, controlWidth, this));
    connect(m_deviceView, &DeviceView::settingsRequested, this, &MenuBarView::showSettings);
    restyle();

    connect(&m_service, &SensiboService::apiKeyChanged, this, &MenuBarView::sync);
    connect(&m_service, &SensiboService::devicesChanged, this, &MenuBarView::sync);
    connect(&m_service, &SensiboService::isLoadingChanged, this, &MenuBarView::sync);
    connect(&m_service, &SensiboService::errorMessageChanged, this, &MenuBarView::sync);
    sync();
}

QWidget* MenuBarView::buildNoKeyState()
{
    auto* state = new QWidget(this);
    state->setObjectName(QStringLiteral("noKeyState"));
    QVBoxLayout* layout = stateLayout(state);
    m_noKeyIcon = centredLabel(QString(), QStringLiteral("noKeyIcon"), state);
    Accessibility::hide(m_noKeyIcon);
    m_noKeyTitle = centredLabel(QStringLiteral("No API Key Configured"), QStringLiteral("noKeyTitle"), state);
    m_noKeyText = wrappedLabel(QStringLiteral("Open Settings to enter your Sensibo API key."),
                               QStringLiteral("noKeyText"), state);
    auto* button = new QPushButton(QStringLiteral("Open Settings..."), state);
    button->setObjectName(QStringLiteral("openSettingsButton"));
    m_openSettingsButton = button;
    connect(button, &QPushButton::clicked, this, &MenuBarView::showSettings);

    layout->addWidget(m_noKeyIcon);
    layout->addWidget(m_noKeyTitle);
    layout->addWidget(m_noKeyText);
    layout->addWidget(button, 0, Qt::AlignHCenter);
    return state;
}

QWidget* MenuBarView::buildLoadingState()
{
    auto* state = new QWidget(this);
    state->setObjectName(QStringLiteral("loadingState"));
    QVBoxLayout* layout = stateLayout(state);
    m_spinner = new BusySpinner(state);
    m_spinner->setObjectName(QStringLiteral("spinner"));
    m_loadingText = centredLabel(QStringLiteral("Loading devices..."), QStringLiteral("loadingText"), state);
    layout->addWidget(m_spinner, 0, Qt::AlignHCenter);
    layout->addWidget(m_loadingText);
    return state;
}

QWidget* MenuBarView::buildMessageState()
{
    auto* state = new QWidget(this);
    state->setObjectName(QStringLiteral("messageState"));
    QVBoxLayout* layout = stateLayout(state);
    m_messageIcon = centredLabel(QString(), QStringLiteral("messageIcon"), state);
    Accessibility::hide(m_messageIcon);
    m_messageText = wrappedLabel(QString(), QStringLiteral("errorText"), state, true);
    m_noDevicesText = centredLabel(QStringLiteral("No devices found"), QStringLiteral("noDevicesText"), state, true);

    auto* buttons = new QHBoxLayout;
    auto* retry = new QPushButton(QStringLiteral("Retry"), state);
    retry->setObjectName(QStringLiteral("retryButton"));
    m_retryButton = retry;
    auto* settings = new QPushButton(QStringLiteral("Settings..."), state);
    settings->setObjectName(QStringLiteral("messageSettingsButton"));
    connect(retry, &QPushButton::clicked, this, [this] {
        m_service.fetchDevices(); // started, not awaited: the outcome comes back through the service
    });
    connect(settings, &QPushButton::clicked, this, &MenuBarView::showSettings);
    buttons->addStretch(1);
    buttons->addWidget(retry, 0, Qt::AlignVCenter);
    buttons->addWidget(settings, 0, Qt::AlignVCenter);
    buttons->addStretch(1);

    layout->addWidget(m_messageIcon);
    layout->addWidget(m_messageText);
    layout->addWidget(m_noDevicesText);
    layout->addLayout(buttons);
    return state;
}

MenuBarView::State MenuBarView::currentState() const
{
    if (m_service.apiKey().isEmpty()) {
        return State::NoKey;
    }
    if (m_service.devices().isEmpty()) {
        return m_service.isLoading() ? State::Loading : State::Message;
    }
    return State::Devices;
}

void MenuBarView::sync()
{
    const State state = currentState();
    m_noKeyState->setVisible(state == State::NoKey);
    m_loadingState->setVisible(state == State::Loading);
    m_messageState->setVisible(state == State::Message);
    m_deviceView->setVisible(state == State::Devices);

    if (state == State::Message) {
        const auto& message = m_service.errorMessage();
        m_messageText->setText(message.value_or(QString()));
        m_messageText->setVisible(message.has_value());
        m_noDevicesText->setVisible(!message.has_value());
        // Each new outcome is said once.
        QLabel* outcome = message ? m_messageText : m_noDevicesText;
        if (outcome->text() != m_announced) {
            m_announced = outcome->text();
            Accessibility::announce(outcome);
        }
    } else {
        m_announced.clear();
    }
    updateHeight();
}

// Fonts and colours that come from the desktop's font and palette; called again when either changes.
void MenuBarView::restyle()
{
    const QFont base = font();
    const QFont headline = headlineFont(base);
    const QFont caption = captionFont(base);
    const QPalette& pal = palette();
    const QColor secondary = secondaryColor(pal);
    const QColor red = systemRed(pal);
    const qreal ratio = devicePixelRatioF();
    const int largeIcon = largeTitlePixelSize(base);

    m_noKeyIcon->setPixmap(symbolPixmap(QStringLiteral("key"), secondary, largeIcon, ratio));
    m_noKeyTitle->setFont(headline);
    m_noKeyText->setFont(caption);
    setTextColor(m_noKeyText, secondary);

    m_loadingText->setFont(caption);
    setTextColor(m_loadingText, secondary);

    m_messageIcon->setPixmap(symbolPixmap(QStringLiteral("exclamationmark.triangle"), secondary, largeIcon, ratio));
    m_messageText->setFont(caption);
    setTextColor(m_messageText, red);
    m_noDevicesText->setFont(headline);
}

// The panel is as tall as its content at its fixed width; the window that holds it follows.
void MenuBarView::updateHeight()
{
    const int height = hasHeightForWidth() ? heightForWidth(panelWidth) : sizeHint().height();
    if (height > 0 && (minimumHeight() != height || maximumHeight() != height)) {
        setFixedHeight(height);
    }
}

bool MenuBarView::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest) {
        updateHeight();
    }
    return handled;
}

void MenuBarView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        restyle();
        sync();
    }
}

void MenuBarView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The first load runs once per run and belongs to the service, which outlives every view: started here, not
    // awaited, so hiding the panel leaves it running.
    m_service.initialLoad();
    focusFirstControl();
}

// The panel opens with the keyboard on its first control, so that a screen reader has something to speak at once.
void MenuBarView::focusFirstControl()
{
    QWidget* first = nullptr;
    switch (currentState()) {
    case State::NoKey:
        first = m_openSettingsButton;
        break;
    case State::Loading:
        break;
    case State::Message:
        first = m_retryButton;
        break;
    case State::Devices:
        first = m_deviceView->firstControl();
        break;
    }
    if (first) {
        first->setFocus(Qt::PopupFocusReason);
    }
}

void MenuBarView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        closePanel();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MenuBarView::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::Mid), borderWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void MenuBarView::showSettings()
{
    // A pop-up panel holds the keyboard and mouse: it must go, or the settings window could not be used.
    if (window()->windowType() == Qt::Tool) {
        closePanel();
    }
    if (m_openSettings) {
        m_openSettings();
    }
}

void MenuBarView::closePanel()
{
    Q_EMIT closeRequested();
    window()->hide();
}
