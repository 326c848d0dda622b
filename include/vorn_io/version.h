#pragma once

#include "vorn_io/export.h"

/// The library's version line, for example
/// "vorn_io version: 1.0.0.1a2b3c4, compile time: Dec  8 2026 15:53:29".
/// The text is owned by the library, stays valid while it is loaded, and must
/// be neither freed nor modified. Safe to call from any thread.
VORN_IO_EXPORT const char* get_version_str();
