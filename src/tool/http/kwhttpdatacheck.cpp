// CKwHttpDataCheck; see kwhttpdatacheck.h.
#include "tool/http/kwhttpdatacheck.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

void CKwHttpDataCheck::SetParam(const char* name, const char* value) {
  if (name == nullptr || std::strlen(name) > 239) return;
  if (value == nullptr) {
    m_params.erase(name);
    return;
  }
  m_params[name] = value;
}

const char* CKwHttpDataCheck::GetSign() {
  std::string sign = SignOf(m_params);
  std::snprintf(m_sign, sizeof(m_sign), "%s", sign.c_str());
  return m_sign;
}

std::string CKwHttpDataCheck::SignOf(const std::map<std::string, std::string>& params) {
  std::vector<std::string> texts;
  texts.reserve(params.size());
  for (const auto& param : params) texts.push_back(param.first + "=" + param.second);
  // std::string compares its bytes as unsigned char, and a prefix sorts first.
  std::sort(texts.begin(), texts.end());
  uint8_t lanes[16] = {};
  unsigned position = 0;
  for (const std::string& text : texts) {
    for (unsigned char byte : text) {
      lanes[position] = static_cast<uint8_t>(lanes[position] + byte);
      position = (position + 1) % 16;
    }
  }
  char out[33];
  for (int i = 0; i < 16; ++i) std::snprintf(out + 2 * i, 3, "%02X", lanes[i]);
  return std::string(out, 32);
}

std::string KwHttpTimestamp() {
  char text[32];
  std::snprintf(text, sizeof(text), "%lld", static_cast<long long>(std::time(nullptr)));
  return text;
}
