// Compiled once per executable with KW_RUN_MODE set by the build, so each
// program's job is fixed and nothing at run time can change it.
#include "main/kwglobals.h"

#ifndef KW_RUN_MODE
#error "KW_RUN_MODE must be defined by the build"
#endif

const int32_t g_runMode = KW_RUN_MODE;
