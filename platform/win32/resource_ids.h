// Resource IDs shared by the program's resource script and the window code.
// Plain macros: the resource compiler reads this file too.
#pragma once

// The window icon (16, 24, 32 and 64 pixels).
#define QUILLON_ICON 1
