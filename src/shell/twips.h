#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QtMath>

// Every position and size of the windows is drawn up in twips; Qt's
// device-independent pixels take care of high-DPI screens from there.
namespace queltor::twips {

constexpr int kPerPixel = 15;

inline int toPixels(double twips) { return qRound(twips / kPerPixel); }
inline int fromPixels(int pixels) { return pixels * kPerPixel; }

inline QRect rect(int left, int top, int width, int height)
{
    return {toPixels(left), toPixels(top), toPixels(width), toPixels(height)};
}

inline QPoint point(int left, int top) { return {toPixels(left), toPixels(top)}; }

} // namespace queltor::twips
