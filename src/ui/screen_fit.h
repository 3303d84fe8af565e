#pragma once
// Keeping every window on the technician's screen: the area a window may take
// on a screen, and a placement brought into it.
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

// Where a screen reports its whole area as available (no window manager
// tells of its panels, as under Xvfb), this much of its height is left for a
// desktop panel and the window's title bar.
inline constexpr int kDesktopPanelReserve = 60;
// Where the window manager reports its panels, the title bar it puts above a
// window still has to fit.
inline constexpr int kTitleBarReserve = 32;

// The area a window's client part may take: the available area less the
// reserve above. `whole` is the screen's full geometry.
QRect UsableArea(const QRect &available, const QRect &whole);
// The usable area of a screen (the primary screen when null); empty without one.
QRect UsableArea(const QScreen *screen);
// The screen a placement belongs to: the one holding its centre, else the
// primary screen.
QScreen *ScreenOf(const QRect &placement);

// A window's placement brought within `area`: no larger than the area (and
// never below `minimum` where the area has room for it), moved the least so
// that the whole of it lies inside. An empty area changes nothing.
QRect FitRect(const QRect &wanted, const QSize &minimum, const QRect &area);

// The frame a window manager (or platform) draws around a window, as far as
// it is known yet: left, top, right, bottom.
QMargins FrameMargins(const QWidget *window);

// A window's wanted placement (client size, frame at `topLeft`) brought
// within `area`: the frame and all lie inside, the client never below
// `minimum` where there is room. Sets the window's minimum size, size and
// position.
void PlaceWithin(QWidget *window, const QPoint &topLeft, const QSize &size, const QSize &minimum, const QRect &area);

// Brings a top-level window within the usable area of its screen: its
// minimum size lowered where the screen is smaller, its size and position
// brought in. For a dialog's show event.
void FitToScreen(QWidget *window);
