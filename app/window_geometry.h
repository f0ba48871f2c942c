// Where the window goes on the screen and how its controls follow a resize.
// Pure geometry, so it can be checked for any screen without one.
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

#include "app/stretch.h"

namespace corvel::app {

// `base` laid out in a window `dw` pixels wider and `dh` taller than the layout.
QRect Stretched(const QRect& base, Stretch stretch, int dw, int dh);

// Before a window is first shown its frame is unknown; this much room is kept
// for a title bar and borders, a little more than common desktops draw.
inline constexpr QMargins kFrameAllowance{4, 36, 4, 4};

// The client area for a window that wants `wanted`: no larger than what the
// available area leaves inside `frame`, and centred, frame included.
QRect CentredWithin(const QSize& wanted, const QRect& available, const QMargins& frame);

// `client` moved, and shrunk only if it must, so that it stays with its frame
// inside the available area; a window already inside is left where it is.
QRect KeptWithin(const QRect& client, const QRect& available, const QMargins& frame);

}  // namespace corvel::app
