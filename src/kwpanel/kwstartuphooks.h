// Start-up steps that belong to other parts of the program, joined here so
// the application object depends on one narrow call each.
#pragma once

#include <cstdint>

// Runs the main install dialog modally (smallest size 800 x 600, window
// icon) and returns after it has closed.  Returns 0.
int32_t KwStartupRunMainDialog();
