// CKwHttpDataCheck: the signature every install-server request carries.
//
// The parameters of a request are formed into "name=value" texts, sorted
// bytewise, and their bytes summed into sixteen 8-bit lanes; the lanes in
// upper-case hex are the signature.  No secret enters it: the server can
// recompute it from the parameters alone, whatever their order in the URL.
#pragma once

#include <map>
#include <string>

class CKwHttpDataCheck {
 public:
  CKwHttpDataCheck() = default;
  virtual ~CKwHttpDataCheck() = default;

  // Sets a parameter, replacing an earlier value of the same name.  Names
  // longer than 239 bytes are ignored; a null value removes the parameter.
  void SetParam(const char* name, const char* value);
  // The 32-character signature; the text lives as long as this object.
  const char* GetSign();

  // The signature of an already split parameter list (used by the server).
  static std::string SignOf(const std::map<std::string, std::string>& params);

 private:
  std::map<std::string, std::string> m_params;
  char m_sign[256] = {};
};

// The current time in whole seconds since 1970 as "%lld".
std::string KwHttpTimestamp();
