#include "shell/twips.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>

#include <limits>
#include <optional>

namespace queltor::twips {

namespace {

std::optional<double> g_fontScale;
double g_fitScale = std::numeric_limits<double>::infinity();

double screenDpi()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    // Rounded as the toolkit rounds it when it turns points into pixels.
    return screen ? qRound(screen->logicalDotsPerInchY()) : 96.0;
}

// The largest scale up to fontScale at which layout and chrome fit in room, and at least 1.
double scaleWithin(double fontScale, QSizeF layout, QSize chrome, QSize room)
{
    // Each size is rounded to whole pixels, never past the room it was worked out for.
    const double across = (room.width() - chrome.width()) * kPerPixel / layout.width();
    const double down = (room.height() - chrome.height()) * kPerPixel / layout.height();
    return qMax(1.0, qMin(fontScale, qMin(across, down)));
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
    if (!g_fontScale)
        followFont(QGuiApplication::font());
    return qMax(1.0, qMin(*g_fontScale, g_fitScale));
}

void followFont(const QFont &font) { g_fontScale = scaleFor(fontPixels(font, screenDpi())); }

void fitWithin(QSizeF layout, QSize chrome, QSize room)
{
    g_fitScale = std::numeric_limits<double>::infinity();
    g_fitScale = scaleWithin(scale(), layout, chrome, room);
}

} // namespace queltor::twips
