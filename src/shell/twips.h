#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QSizeF>

class QFont;

// Every position and size of the windows is drawn up in twips. The grid is 15
// twips a pixel at the toolkit's standard 9 pt font (12 px at 96 dpi) and grows
// with a larger standard font, the way forms were scaled for large fonts; Qt's
// device-independent pixels take care of high-DPI screens on top of that.
namespace queltor::twips {

constexpr int kPerPixel = 15;      // at the base font
constexpr double kBaseFontPx = 12; // 9 pt at 96 dpi

// The pixel height of a font: its pixel size, or its point size at dpi.
double fontPixels(const QFont &font, double dpi);

// How much larger than the base grid the grid is for a standard font of
// fontPx pixels: in proportion to the font, never below 1.
double scaleFor(double fontPx);

// The grid's scale: taken from the application's standard font the first time
// it is needed (after QApplication exists), then kept; held down by fitWithin.
double scale();
// Takes the scale from this font instead (tests, or a desktop font change).
void followFont(const QFont &font);
// Holds the scale from now on to the largest at which a window of layout
// twips and chrome pixels that do not scale fits in room, a screen's
// available area; never below 1, where the grid stays on a screen too small.
void fitWithin(QSizeF layout, QSize chrome, QSize room);

inline int toPixels(double twips) { return qRound(twips * scale() / kPerPixel); }
inline double fromPixels(int pixels) { return pixels * kPerPixel / scale(); }

inline QRect rect(int left, int top, int width, int height)
{
    return {toPixels(left), toPixels(top), toPixels(width), toPixels(height)};
}

inline QPoint point(int left, int top) { return {toPixels(left), toPixels(top)}; }

// A font size drawn up for the base grid, on this grid.
inline double points(double basePoints) { return basePoints * scale(); }

} // namespace queltor::twips
