// Symbol visibility of the control library: everything is hidden unless it
// is part of the library's exported surface.

#pragma once

#define MBUS_EXPORT __attribute__((visibility("default")))
