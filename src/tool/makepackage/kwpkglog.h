// Log records of the package tools: level 4, under the source name the
// maker's and unpacker's records have always carried.
#pragma once

#include "baseutil/ikwlog.h"

#define KW_PKG_LOG(func, ...) \
  WriteLog(4, "tool/makepackage/ikwmakepkg.cpp", (func), __LINE__, __VA_ARGS__)
