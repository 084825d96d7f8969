#include "shell/colours.h"

#include <QPalette>

#include <cmath>

namespace queltor {

namespace {

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

} // namespace

double relativeLuminance(const QColor &colour)
{
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

QColor displayInk(const QPalette &palette)
{
    const QColor window = palette.color(QPalette::Window);
    if (relativeLuminance(window) >= relativeLuminance(palette.color(QPalette::WindowText)))
        return kDisplayGreen;
    for (int green = kDisplayGreen.green(); green <= 255; ++green) {
        const QColor ink(0, green, 0);
        if (contrastRatio(ink, window) >= kDisplayContrast)
            return ink;
    }
    // A window too light for any pure green: pale it toward white.
    for (int other = 1; other <= 255; ++other) {
        const QColor ink(other, 255, other);
        if (contrastRatio(ink, window) >= kDisplayContrast)
            return ink;
    }
    return Qt::white;
}

} // namespace queltor
