#pragma once

#include <QColor>

class QPalette;

namespace queltor {

// The display's dark green, as on a light desktop.
inline const QColor kDisplayGreen{0, 128, 0};
// The least contrast the display keeps against the window on a dark desktop.
constexpr double kDisplayContrast = 4.5;

// Relative luminance and contrast ratio as the accessibility guidelines define them.
double relativeLuminance(const QColor &colour);
double contrastRatio(const QColor &a, const QColor &b);

// The display's green on a palette: the dark green where the window is lighter
// than its text; on a dark palette the least bright green that stands out from
// the window by kDisplayContrast.
QColor displayInk(const QPalette &palette);

} // namespace queltor
