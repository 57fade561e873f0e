// The product's icon: a PNG carried inside the program that the installer
// places in its data folder, so the applications menu and the desktop show
// a real picture for the installed product instead of an executable's path.
#pragma once

#include <cstddef>
#include <string>

// The icon's file name inside the installer's data folder.
inline constexpr const char* kKwProductIconFile = "tarnwick.png";

// The embedded PNG: its bytes and their number.
const unsigned char* KwProductIconData(size_t* size);

// Writes the icon as "<dataRoot>/tarnwick/tarnwick.png" (folders made when
// missing, an earlier copy replaced) and returns that path; an empty text
// when `dataRoot` is not an absolute folder or the file cannot be written.
std::string KwPlaceProductIcon(const char* dataRoot);
