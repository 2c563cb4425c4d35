#pragma once

class QWindow;

// The pointer grab of a popup on X11, with the server's answer. QWindow::setMouseGrabEnabled
// reports success whenever the request itself is valid, also when another client holds the
// pointer and the server refused the grab.
namespace X11PointerGrab {

// Grabs every master pointer for `window` as Qt's own popup grab does (so that Qt releases
// it as usual when the popup closes); whether the server granted all of them. False when the
// program does not run on X11.
bool take(const QWindow& window);

} // namespace X11PointerGrab
