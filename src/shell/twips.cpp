#include "shell/twips.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>

#include <optional>

namespace queltor::twips {

namespace {

std::optional<double> g_scale;

double screenDpi()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    // Rounded as the toolkit rounds it when it turns points into pixels.
    return screen ? qRound(screen->logicalDotsPerInchY()) : 96.0;
}

} // namespace

double fontPixels(const QFont &font, double dpi)
{
    if (font.pixelSize() > 0)
        return font.pixelSize();
    return font.pointSizeF() * dpi / 72.0;
}

double scaleFor(double fontPx) { return qMax(1.0, fontPx / kBaseFontPx); }

double scale()
{
    if (!g_scale)
        followFont(QGuiApplication::font());
    return *g_scale;
}

void followFont(const QFont &font) { g_scale = scaleFor(fontPixels(font, screenDpi())); }

} // namespace queltor::twips
