// Start-up steps that belong to other parts of the program and are joined
// here once they exist.  Each is a plain call; none pretends to have done
// its work when the part behind it is missing.
#pragma once

#include <cstdint>

// Runs the main install dialog modally (smallest size 800 x 600, window
// icon) and returns after it has closed.  Returns 0 when it ran, -1 when no
// main dialog is built into this program.
int32_t KwStartupRunMainDialog();
