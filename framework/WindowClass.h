// The end of a window class of ours (RegisterWindowClass in Window.h makes
// them): for a layer whose windows all go at times, such as the sockets'.
#pragma once

namespace krv {

// Unregisters such a class once no window of it is left; the next
// RegisterWindowClass registers it anew.
void UnregisterWindowClass(const char* className);

} // namespace krv
