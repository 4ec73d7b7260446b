#include "ui/SymbolIcons.h"

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmapCache>

// Resources of a static library must be registered by hand, and outside any namespace.
static void registerSymbolResources()
{
    Q_INIT_RESOURCE(symbols);
}

namespace {

// Each name's glyph was picked by looking at it in the font: some Material names draw something else than they say.
// The comment gives the Material name of the glyph.
const QHash<QString, char32_t>& symbolTable()
{
    static const QHash<QString, char32_t> table{
        {QStringLiteral("key"), 0xe0da},                         // vpn_key
        {QStringLiteral("exclamationmark.triangle"), 0xf083},    // warning_amber
        {QStringLiteral("arrow.down.circle.fill"), 0xf000},      // download_for_offline
        {QStringLiteral("arrow.clockwise"), 0xe5d5},             // refresh
        {QStringLiteral("gearshape"), 0xe8b8},                   // settings
        {QStringLiteral("power"), 0xe8ac},                       // power_settings_new
        {QStringLiteral("thermometer.medium"), 0xe1ff},          // device_thermostat
        {QStringLiteral("drop.fill"), 0xe798},                   // water_drop
        {QStringLiteral("power.circle.fill"), 0xe932},           // offline_bolt
        {QStringLiteral("power.circle"), 0xf037},                // mode_standby
        {QStringLiteral("snowflake"), 0xeb3b},                   // ac_unit
        {QStringLiteral("flame"), 0xef55},                       // local_fire_department
        {QStringLiteral("fan"), 0xefd8},                         // air
        {QStringLiteral("drop"), 0xe91c},                        // opacity
        {QStringLiteral("arrow.triangle.2.circlepath"), 0xe863}, // autorenew
        {QStringLiteral("air.conditioner.horizontal"), 0xf10e},  // hvac
        {QStringLiteral("arrow.up.and.down"), 0xe8d5},           // swap_vert
        {QStringLiteral("arrow.left.and.right"), 0xe8d4},        // swap_horiz
        {QStringLiteral("light.max"), 0xe518},                   // light_mode
        {QStringLiteral("chevron.up.chevron.down"), 0xe5d7},     // unfold_more
        {QStringLiteral("minus.circle"), 0xe15d},                // remove_circle_outline
        {QStringLiteral("plus.circle"), 0xe148},                 // add_circle_outline
        {QStringLiteral("checkmark.circle.fill"), 0xe86c},       // check_circle
        {QStringLiteral("xmark.circle.fill"), 0xe5c9},           // cancel
        {QStringLiteral("timer"), 0xe425},                       // timer (a stopwatch)
        {QStringLiteral("xmark.circle"), 0xe888},                // highlight_off
        {QStringLiteral("thermometer.auto"), 0xf077},            // thermostat_auto
    };
    return table;
}

QString symbolFamily()
{
    static const QString family = [] {
        registerSymbolResources();
        QFile file(QStringLiteral(":/kelvo/symbols/MaterialIcons-Regular.ttf"));
        if (!file.open(QIODevice::ReadOnly)) {
            return QString();
        }
        // Stored uncompressed, the font is read where it lies in the program; only when it is not does it take a copy.
        const uchar* mapped = file.map(0, file.size());
        const QByteArray data =
            mapped ? QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), file.size()) : file.readAll();
        const int id = QFontDatabase::addApplicationFontFromData(data);
        return QFontDatabase::applicationFontFamilies(id).value(0);
    }();
    return family;
}

// The font's em square spans exactly its ascent, so a glyph drawn centred in a square of its pixel size sits where
// its designer put it.
void drawSymbol(QPainter& painter, const QRectF& rect, char32_t codePoint, const QColor& color)
{
    const qreal side = std::min(rect.width(), rect.height());
    if (side <= 0) {
        return;
    }
    const QFont font = symbolFont(std::max(1, qRound(side)));
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(rect, Qt::AlignCenter, QString::fromUcs4(&codePoint, 1));
    painter.restore();
}

// A transparent picture of `size` device pixels with the symbol drawn over it.
QPixmap renderSymbol(const QSize& size, char32_t codePoint, const QColor& color)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        drawSymbol(painter, QRectF(QPointF(), size), codePoint, color);
    }
    return pixmap;
}

QColor colorForMode(QColor color, QIcon::Mode mode)
{
    if (mode == QIcon::Disabled) {
        color.setAlphaF(color.alphaF() * 0.35);
    }
    return color;
}

class SymbolIconEngine : public QIconEngine
{
public:
    SymbolIconEngine(char32_t codePoint, QColor color, int pixelSize)
        : m_codePoint(codePoint)
        , m_color(color)
        , m_pixelSize(pixelSize)
    {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override
    {
        drawSymbol(*painter, rect, m_codePoint, colorForMode(m_color, mode));
    }

    // QIcon asks for device pixels and sets the pixel ratio itself.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        return renderSymbol(size, m_codePoint, colorForMode(m_color, mode));
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {QSize(m_pixelSize, m_pixelSize)}; }
    QIconEngine* clone() const override { return new SymbolIconEngine(m_codePoint, m_color, m_pixelSize); }
    QString key() const override { return QStringLiteral("KelvoSymbol"); }

private:
    char32_t m_codePoint;
    QColor m_color;
    int m_pixelSize;
};

} // namespace

char32_t symbolCodePoint(const QString& name)
{
    return symbolTable().value(name, 0);
}

QStringList symbolNames()
{
    return symbolTable().keys();
}

QFont symbolFont(int pixelSize)
{
    QFont font(symbolFamily());
    font.setPixelSize(pixelSize);
    font.setStyleStrategy(QFont::NoFontMerging);
    return font;
}

QIcon symbolIcon(const QString& name, const QColor& color, int pixelSize)
{
    const char32_t codePoint = symbolCodePoint(name);
    if (codePoint == 0) {
        return QIcon();
    }
    return QIcon(new SymbolIconEngine(codePoint, color, pixelSize));
}

QPixmap symbolPixmap(const QString& name, const QColor& color, int pixelSize, qreal devicePixelRatio)
{
    const char32_t codePoint = symbolCodePoint(name);
    if (codePoint == 0 || pixelSize <= 0) {
        return QPixmap();
    }
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : qApp->devicePixelRatio();
    const QString cacheKey =
        QStringLiteral("kelvo-symbol:%1:%2:%3:%4").arg(name, color.name(QColor::HexArgb)).arg(pixelSize).arg(ratio);
    QPixmap pixmap;
    if (QPixmapCache::find(cacheKey, &pixmap)) {
        return pixmap;
    }
    const int side = qCeil(pixelSize * ratio);
    pixmap = renderSymbol(QSize(side, side), codePoint, color);
    pixmap.setDevicePixelRatio(ratio);
    QPixmapCache::insert(cacheKey, pixmap);
    return pixmap;
}
