#pragma once
// Where a window stored in a file comes back on screen.
//
// Files store a window's outer frame (Top, Left, Width, Height), as Windows reports it. A
// window read before it was ever shown has no frame yet (the window manager adds it when the
// window is mapped), so the stored outer size is kept and the inner size corrected once the
// frame is known: the next save then writes the same numbers.

#include <QList>
#include <QRect>

class QWidget;

// The frame moved the least distance that puts it wholly inside area, its size kept where it
// fits (a larger sizeable window is shrunk to the area; a fixed one keeps its corner at the
// area's corner).
QRect fitInto(const QRect& frame, const QRect& area, bool resizable);

// A stored frame that shares less than kMinVisible x kMinVisible pixels with every screen's
// available area is fitted into the primary screen's area (fitInto). A frame that is visible
// enough comes back unchanged.
constexpr int kMinVisible = 64;
QRect placeOnScreen(const QRect& frame, const QList<QRect>& availableAreas, const QRect& primaryArea,
                    bool resizable);

// Gives the window the stored frame. Position: the frame's corner. Size (only when sizeable):
// the frame's outer size, now if the window's frame is known, else as soon as it is. When the
// window is next shown, a frame off every screen is brought onto the primary one
// (placeOnScreen); a window never shown keeps the stored frame untouched.
void applyStoredFrame(QWidget* window, const QRect& frame, bool sizeable);
