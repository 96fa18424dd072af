// Opening the connection to the X server aside, on a thread of its own: a
// server that accepts the connection but never answers (stopped, hung)
// cannot hold the launcher, and its instance lock, for ever; and the
// thread, loading libX11 itself, can start before the menu is asked for, so
// that loading the library and the server's answers overlap the rest of the
// start.
#pragma once

#include "display/x11/x11_handles.h"

#include <chrono>
#include <string>

namespace velmora::x11 {

// Starts opening `name` aside, unless an open of it was started already.
// False when no thread could be had.
bool startConnecting(const std::string& name);

// The display the open of `name` brought, waiting for it up to `limit`; one
// is started (or, with no thread to be had, made here) when none was. Null
// when the server cannot be reached or does not answer in time.
DisplayHandle awaitConnection(const std::string& name, std::chrono::milliseconds limit);

} // namespace velmora::x11
