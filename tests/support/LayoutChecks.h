// Layout checks in the operator's terms rather than in pixels: nothing sticks out of its
// panel, nothing covers anything else, every caption can be read, and the few relations the
// screens promise (centred, in the corner, in order) hold at every window size.
#pragma once

#include <QRect>
#include <QSize>
#include <functional>
#include <vector>

class QWidget;

namespace kelvaro::testing {

// The sizes every window is checked at: the smallest the main window can be made, the size it
// starts at, and a full-HD desktop. A secondary screen takes the main window's size, so it
// meets the same ones.
const std::vector<QSize>& StationWindowSizes();

// Every visible control of `window` lies wholly inside its parent's contents, no two visible
// siblings overlap, and every button's and label's caption fits its control.
void ExpectLaidOut(const QWidget* window);

// Resizes `window` to each of StationWindowSizes in turn (a fixed-size window is given that
// size as its fixed size, as the hand-over does), expects it laid out there and runs `check`.
void AtEveryWindowSize(QWidget* window, const std::function<void()>& check);

// `area` (in `outer`'s coordinates) is centred in `outer` to within a pixel either way.
void ExpectCentredIn(const QRect& area, const QWidget* outer);
void ExpectCentredIn(const QWidget* inner, const QWidget* outer);

// `button` sits in the top-right corner of its parent: as far from the right edge as from the
// top, whatever the parent's width.
void ExpectInTopRightCorner(const QWidget* button);

// The widgets stand on one line (their middles level), each wholly right of the one before.
void ExpectLeftToRight(const std::vector<const QWidget*>& widgets);
// The widgets stand each wholly below the one before.
void ExpectTopToBottom(const std::vector<const QWidget*>& widgets);

}  // namespace kelvaro::testing
