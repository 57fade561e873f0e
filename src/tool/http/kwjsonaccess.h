// Reading members of the install server's JSON answers.  The server is not
// consistent about types: integers may come as text and texts as numbers, so
// every member is read through the two rules of KwJsonInt and KwJsonText
// (kwjsonread.h, shared with the package files' readers).
#pragma once

#include <string>

#include "baseutil/kwjsonread.h"

// Percent-encodes the bytes of a query value that cannot stand in a URL as
// they are; letters, digits and - . _ ~ / : @ ! $ ' ( ) * , ; stay unchanged.
std::string KwUrlEncodeValue(const std::string& value);
