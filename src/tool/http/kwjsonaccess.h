// Reading members of the install server's JSON answers.  The server is not
// consistent about types: integers may come as text and texts as numbers, so
// every member is read through these two rules.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// An integer from a JSON number or from a text holding a decimal number
// (optional sign, nothing else).  False when absent or not such a value.
bool KwJsonInt(const Json::Value& object, const char* member, int64_t* out);

// A text unchanged, or a number in decimal.  False when absent or of
// another kind (object, array, boolean, null).
bool KwJsonText(const Json::Value& object, const char* member, std::string* out);

// Percent-encodes the bytes of a query value that cannot stand in a URL as
// they are; letters, digits and - . _ ~ / : @ ! $ ' ( ) * , ; stay unchanged.
std::string KwUrlEncodeValue(const std::string& value);
