#include "panel/MenuBarView.h"

#include "panel/DeviceView.h"
#include "service/SensiboService.h"
#include "ui/Accessibility.h"
#include "ui/Announcer.h"
#include "ui/BusySpinner.h"
#include "ui/PanelStyle.h"
#include "ui/SymbolIcons.h"

#include <QAbstractButton>
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

QLabel* centredLabel(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* wrappedLabel(const QString& text, const QString& objectName, QWidget* parent)
{
    QLabel* label = centredLabel(text, objectName, parent);
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
    m_announcer = new Announcer(this);

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
    connect(&m_service, &SensiboService::selectedDeviceIdChanged, this, &MenuBarView::sync);
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
    m_messageText = wrappedLabel(QString(), QStringLiteral("errorText"), state);
    m_noDevicesText = centredLabel(QStringLiteral("No devices found"), QStringLiteral("noDevicesText"), state);

    auto* buttons = new QHBoxLayout;
    auto* retry = new QPushButton(QStringLiteral("Retry"), state);
    retry->setObjectName(QStringLiteral("retryButton"));
    m_retryButton = retry;
    auto* settings = new QPushButton(QStringLiteral("Settings..."), state);
    settings->setObjectName(QStringLiteral("messageSettingsButton"));
    connect(retry, &QPushButton::clicked, this, [this] {
        m_service.fetchDevices(); // started, not awaited: the outcome comes back through the service
        m_announcer->expectAnswer();
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
        m_announcer->say(message ? m_messageText->text() : m_noDevicesText->text());
    }
    syncDescriptions(state);
    updateSize();
}

// What the panel is about, for assistive technology to say as it opens: a description of the window, and of the
// control that takes the keyboard first, which screen readers speak with it.
void MenuBarView::syncDescriptions(State state)
{
    const QString noKey = m_noKeyTitle->text() + QStringLiteral(". ") + m_noKeyText->text();
    const QString message = m_messageText->isVisibleTo(this) ? m_messageText->text() : m_noDevicesText->text();
    Accessibility::setDescription(m_openSettingsButton, noKey);
    Accessibility::setDescription(m_retryButton, message);
    QString panel;
    switch (state) {
    case State::NoKey:
        panel = noKey;
        break;
    case State::Loading:
        panel = m_loadingText->text();
        break;
    case State::Message:
        panel = message;
        break;
    case State::Devices:
        panel = m_deviceView->summary();
        break;
    }
    Accessibility::setDescription(window(), panel);
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

// The panel is 300 px wide at the default font and wider in proportion to a larger one. It wants to be as tall as
// its content at that width; the window that holds it follows, and may give it less (a maximum height), which the
// climate controls then scroll in.
void MenuBarView::updateSize()
{
    const int width = widthFor(font());
    if (minimumWidth() != width || maximumWidth() != width) {
        setFixedWidth(width);
    }
    QLayout* content = layout();
    const int height =
        content->hasHeightForWidth() ? content->totalHeightForWidth(width) : content->totalSizeHint().height();
    if (height != m_contentHeight) {
        m_contentHeight = height;
        updateGeometry();
    }
}

int MenuBarView::widthFor(const QFont& font)
{
    return qRound(panelWidth * textScale(font));
}

QSize MenuBarView::sizeHint() const
{
    return {widthFor(font()), m_contentHeight};
}

bool MenuBarView::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest) {
        updateSize();
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
    syncDescriptions(currentState()); // the window that holds the panel may be new
    // Opened from the keyboard, the first control shows its focus ring at once, as after a Tab.
    window()->setAttribute(Qt::WA_KeyboardFocusChange, m_openedFromKeyboard);
    focusFirstControl();
}

void MenuBarView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_openedFromKeyboard = false; // each opening says how it came
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
    // Enter presses the focused button, as in dialogs: the buttons that do not take it themselves pass it here.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (auto* button = qobject_cast<QAbstractButton*>(focusWidget()); button && isAncestorOf(button)) {
            button->click();
            return;
        }
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
