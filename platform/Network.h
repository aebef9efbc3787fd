#pragma once

namespace platform {
// True when the system reports a connection, and when it cannot tell.
bool IsOnline();
} // namespace platform
