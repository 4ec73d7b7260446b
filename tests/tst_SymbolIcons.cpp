#include "ui/SymbolIcons.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QRawFont>
#include <QSet>
#include <QTest>

namespace {
// Every symbol the panel, the update alert and the settings window show.
const QStringList usedNames{
    "key",
    "exclamationmark.triangle",
    "arrow.down.circle.fill",
    "arrow.clockwise",
    "gearshape",
    "power",
    "thermometer.medium",
    "drop.fill",
    "power.circle.fill",
    "power.circle",
    "snowflake",
    "flame",
    "fan",
    "drop",
    "arrow.triangle.2.circlepath",
    "air.conditioner.horizontal",
    "arrow.up.and.down",
    "arrow.left.and.right",
    "light.max",
    "chevron.up.chevron.down",
    "minus.circle",
    "plus.circle",
    "checkmark.circle.fill",
    "xmark.circle.fill",
    "timer",
    "xmark.circle",
    "thermometer.auto",
};

QImage opaqueCoverage(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_Alpha8);
}

int maxAlpha(const QImage& image)
{
    int alpha = 0;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            alpha = std::max(alpha, qAlpha(argb.pixel(x, y)));
        }
    }
    return alpha;
}
} // namespace

class tst_SymbolIcons : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyUsedNameHasItsOwnGlyphInTheFont();
    void everyGlyphLooksDifferent();
    void drawsInTheRequestedColour_data();
    void drawsInTheRequestedColour();
    void pixmapsAndIconsAreSharpOnHighDensityScreens();
    void unknownNameDrawsNothing();
};

void tst_SymbolIcons::everyUsedNameHasItsOwnGlyphInTheFont()
{
    const QFont font = symbolFont(24);
    QCOMPARE(QFontInfo(font).family(), QStringLiteral("Material Icons"));
    const QRawFont raw = QRawFont::fromFont(font);
    QVERIFY(raw.isValid());

    QSet<char32_t> seen;
    for (const QString& name : usedNames) {
        const char32_t codePoint = symbolCodePoint(name);
        QVERIFY2(codePoint != 0, qPrintable(name));
        QVERIFY2(raw.supportsCharacter(codePoint), qPrintable(name));
        QVERIFY2(!seen.contains(codePoint), qPrintable(name + " shares its glyph"));
        seen.insert(codePoint);
    }
    const QStringList names = symbolNames();
    QCOMPARE(QSet<QString>(names.cbegin(), names.cend()), QSet<QString>(usedNames.cbegin(), usedNames.cend()));
}

// Different code points can carry the same drawing (thermostat and device_thermostat do).
void tst_SymbolIcons::everyGlyphLooksDifferent()
{
    QHash<QString, QImage> images;
    for (const QString& name : usedNames) {
        const QImage image = opaqueCoverage(symbolPixmap(name, Qt::black, 32, 1.0));
        QVERIFY2(maxAlpha(image) > 0, qPrintable(name + " draws nothing"));
        for (auto it = images.cbegin(); it != images.cend(); ++it) {
            QVERIFY2(it.value() != image, qPrintable(name + " looks like " + it.key()));
        }
        images.insert(name, image);
    }
}

void tst_SymbolIcons::drawsInTheRequestedColour_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("color");
    QTest::newRow("green power") << "power.circle.fill" << QColor(0x28, 0xa7, 0x45);
    QTest::newRow("blue download") << "arrow.down.circle.fill" << QColor(0x00, 0x7a, 0xff);
    QTest::newRow("grey key") << "key" << QColor(0x80, 0x80, 0x80);
}

void tst_SymbolIcons::drawsInTheRequestedColour()
{
    QFETCH(QString, name);
    QFETCH(QColor, color);
    const QImage image = symbolPixmap(name, color, 24, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(24, 24));
    int solid = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            // Only the glyph's body: its antialiased edge carries too few bits of colour to compare.
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 255) {
                QCOMPARE(QColor(pixel), color);
                ++solid;
            }
        }
    }
    QVERIFY(solid > 20);
}

void tst_SymbolIcons::pixmapsAndIconsAreSharpOnHighDensityScreens()
{
    const QPixmap pixmap = symbolPixmap("snowflake", Qt::black, 16, 2.0);
    QCOMPARE(pixmap.size(), QSize(32, 32));
    QCOMPARE(pixmap.devicePixelRatio(), 2.0);
    QCOMPARE(pixmap.deviceIndependentSize(), QSizeF(16, 16));

    const QIcon icon = symbolIcon("snowflake", Qt::black, 16);
    const QPixmap fromIcon = icon.pixmap(QSize(16, 16), 2.0);
    QCOMPARE(fromIcon.size(), QSize(32, 32));
    QCOMPARE(fromIcon.devicePixelRatio(), 2.0);
    // The same drawing as the pixmap: the icon renders at the device size, it does not scale a small one up.
    QCOMPARE(opaqueCoverage(fromIcon), opaqueCoverage(pixmap));
}

void tst_SymbolIcons::unknownNameDrawsNothing()
{
    QCOMPARE(symbolCodePoint("no.such.symbol"), char32_t(0));
    QVERIFY(symbolIcon("no.such.symbol", Qt::black, 16).isNull());
    QVERIFY(symbolPixmap("no.such.symbol", Qt::black, 16).isNull());
    QVERIFY(symbolIcon("", Qt::black, 16).isNull());
}

QTEST_MAIN(tst_SymbolIcons)
#include "tst_SymbolIcons.moc"
