#pragma once

#include <QSize>
#include <QSizeF>
#include <Qt>

class QWidget;

// Where the panel's window sits on its screen. The window's outer size follows
// the bank, so it is placed by the panel rather than by the user.
namespace queltor::placement {

// Moves window to the centre of its screen's available area in the given
// directions, counting the frame once it has one. A window larger than the
// area keeps its title bar and menus on it.
void centreOnScreen(QWidget *window, Qt::Orientations directions);

// Centres window on the screen when it is first shown, and once more when a
// window manager frames it after that, which makes it taller.
void centreWhenShown(QWidget *window);

// Holds the twips grid's scale down to what lets a client area of clientTwips,
// with bars pixels of menu and status bar, fit window's screen.
void fitScreen(const QWidget *window, QSizeF clientTwips, QSize bars);

} // namespace queltor::placement
