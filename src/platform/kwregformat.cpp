#include "platform/kwregformat.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

std::string KwRegLower(const std::string& text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool KwRegNormalizePath(const char* path, std::string* out) {
  std::string text = path == nullptr ? "" : path;
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && text[begin] == '\\') ++begin;
  while (end > begin && text[end - 1] == '\\') --end;
  text = text.substr(begin, end - begin);
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return false;
    if (c == '\\' && i + 1 < text.size() && text[i + 1] == '\\') return false;
  }
  *out = text;
  return true;
}

KwRegKeyData& KwRegEnsureKey(KwRegDocument* doc, const std::string& path) {
  // Parents first, so each level keeps the letter case it was made with.
  size_t pos = 0;
  for (;;) {
    size_t next = path.find('\\', pos);
    std::string prefix = next == std::string::npos ? path : path.substr(0, next);
    std::string lower = KwRegLower(prefix);
    auto found = doc->keys.find(lower);
    if (found == doc->keys.end()) {
      KwRegKeyData key;
      key.path = prefix;
      doc->keys.emplace(lower, key);
    }
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  return doc->keys[KwRegLower(path)];
}

std::string KwRegEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (ch) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof(hex), "\\x%02X", c);
          out += hex;
        } else {
          out += ch;
        }
    }
  }
  return out;
}

bool KwRegReadQuoted(const std::string& text, size_t* pos, std::string* out) {
  size_t i = *pos;
  if (i >= text.size() || text[i] != '"') return false;
  ++i;
  out->clear();
  while (i < text.size()) {
    char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c != '\\') {
      *out += c;
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    char e = text[i + 1];
    switch (e) {
      case '\\':
        *out += '\\';
        break;
      case '"':
        *out += '"';
        break;
      case 'n':
        *out += '\n';
        break;
      case 'r':
        *out += '\r';
        break;
      case 't':
        *out += '\t';
        break;
      case 'x': {
        if (i + 3 >= text.size()) return false;
        int hi = HexDigit(text[i + 2]);
        int lo = HexDigit(text[i + 3]);
        if (hi < 0 || lo < 0) return false;
        *out += static_cast<char>(hi * 16 + lo);
        i += 4;
        continue;
      }
      default:
        return false;
    }
    i += 2;
  }
  return false;
}

KwRegParser::KwRegParser() {
  doc_.keys[""].path = "";
}

void KwRegParser::Feed(const char* data, size_t length) {
  size_t start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (data[i] != '\n') continue;
    pending_.append(data + start, i - start);
    ParseLine(std::move(pending_));
    pending_.clear();
    start = i + 1;
  }
  pending_.append(data + start, length - start);
}

KwRegDocument KwRegParser::Finish() {
  if (!pending_.empty()) ParseLine(std::move(pending_));
  pending_.clear();
  return std::move(doc_);
}

void KwRegParser::ParseLine(std::string raw) {
  std::string line = raw;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (firstLine_) {
    firstLine_ = false;
    if (line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    if (TrimBlanks(line) == kHeader) return;
  }
  std::string trimmed = TrimBlanks(line);
  if (trimmed.empty() || trimmed[0] == ';') return;
  bool ok = false;
  if (trimmed[0] == '[' && trimmed.back() == ']') {
    std::string path;
    if (KwRegNormalizePath(trimmed.substr(1, trimmed.size() - 2).c_str(), &path)) {
      KwRegEnsureKey(&doc_, path);
      currentKey_ = KwRegLower(path);
      inSection_ = true;
      ok = true;
    }
  } else if (inSection_) {
    std::string name;
    size_t pos = 0;
    bool haveName = false;
    if (trimmed[0] == '@') {
      pos = 1;
      haveName = true;
    } else {
      haveName = KwRegReadQuoted(trimmed, &pos, &name);
    }
    while (haveName && pos < trimmed.size() && (trimmed[pos] == ' ' || trimmed[pos] == '\t')) ++pos;
    if (haveName && pos < trimmed.size() && trimmed[pos] == '=') {
      ++pos;
      while (pos < trimmed.size() && (trimmed[pos] == ' ' || trimmed[pos] == '\t')) ++pos;
      std::string value;
      if (KwRegReadQuoted(trimmed, &pos, &value) && pos == trimmed.size()) {
        auto& values = doc_.keys[currentKey_].values;
        std::string lowerName = KwRegLower(name);
        bool replaced = false;
        for (auto& v : values) {
          if (KwRegLower(v.name) == lowerName) {
            v.value = value;
            replaced = true;
            break;
          }
        }
        if (!replaced) values.push_back({name, value});
        ok = true;
      }
    }
  }
  if (!ok) {
    doc_.unparsed += line;
    doc_.unparsed += '\n';
    ++doc_.unparsedLines;
  }
}

KwRegDocument KwRegParse(const std::string& text) {
  KwRegParser parser;
  parser.Feed(text.data(), text.size());
  return parser.Finish();
}

std::string KwRegSerialize(const KwRegDocument& doc) {
  std::string out = kHeader;
  out += "\n\n";
  for (const auto& entry : doc.keys) {
    const KwRegKeyData& key = entry.second;
    if (entry.first.empty() && key.values.empty()) continue;
    out += '[';
    out += key.path;
    out += "]\n";
    for (const auto& v : key.values) {
      if (v.name.empty()) {
        out += '@';
      } else {
        out += '"';
        out += KwRegEscape(v.name);
        out += '"';
      }
      out += "=\"";
      out += KwRegEscape(v.value);
      out += "\"\n";
    }
    out += '\n';
  }
  return out;
}
