// Private-profile files.  The file is kept as its lines so a write changes
// only the line it must and leaves comments and unknown lines as they were.
#include "platform/kwinifile.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/kwatomicfile.h"

namespace {

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) {
    --end;
  }
  return text.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// One line of the file as understood.
struct IniLine {
  enum Kind { kOther, kSection, kEntry } kind = kOther;
  std::string name;   // Section name or key name, trimmed.
  std::string value;  // Entry value, trimmed (quotes kept).
};

IniLine Classify(const std::string& raw) {
  IniLine out;
  std::string line = Trim(raw);
  if (line.empty() || line[0] == ';') return out;
  if (line[0] == '[') {
    size_t close = line.find(']');
    if (close != std::string::npos) {
      out.kind = IniLine::kSection;
      out.name = Trim(line.substr(1, close - 1));
    }
    return out;
  }
  size_t eq = line.find('=');
  if (eq == std::string::npos) return out;
  out.kind = IniLine::kEntry;
  out.name = Trim(line.substr(0, eq));
  out.value = Trim(line.substr(eq + 1));
  return out;
}

std::vector<std::string> SplitLines(const std::string& text, bool* crlf) {
  std::vector<std::string> lines;
  *crlf = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      *crlf = true;
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> ReadLines(const char* file, bool* crlf) {
  std::string text;
  *crlf = false;
  if (file == nullptr || KwReadWholeFile(file, &text) != 0) return {};
  return SplitLines(text, crlf);
}

std::string StripQuotes(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Copies `text` into out[size], cut to size-1 bytes; returns bytes copied.
int32_t CopyCut(const std::string& text, char* out, int32_t size) {
  if (out == nullptr || size <= 0) return 0;
  size_t n = text.size();
  if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return static_cast<int32_t>(n);
}

// Writes names as a double-NUL-terminated list.
int32_t CopyList(const std::vector<std::string>& names, char* out, int32_t size) {
  if (out == nullptr || size <= 0) return 0;
  if (size == 1) {
    out[0] = '\0';
    return 0;
  }
  int32_t used = 0;
  for (const auto& name : names) {
    // Room for the name, its NUL and the list's final NUL.
    if (used + static_cast<int32_t>(name.size()) + 2 > size) {
      int32_t room = size - 2 - used;
      if (room > 0) {
        std::memcpy(out + used, name.data(), static_cast<size_t>(room));
        used += room;
      }
      out[used] = '\0';
      out[used + 1] = '\0';
      return size - 2;
    }
    std::memcpy(out + used, name.data(), name.size());
    used += static_cast<int32_t>(name.size());
    out[used++] = '\0';
  }
  out[used] = '\0';
  return used;
}

}  // namespace

int32_t KwGetPrivateProfileString(const char* section, const char* key, const char* def, char* out,
                                  int32_t size, const char* file) {
  bool crlf = false;
  std::vector<std::string> lines = ReadLines(file, &crlf);
  if (section == nullptr) {
    std::vector<std::string> names;
    for (const auto& raw : lines) {
      IniLine line = Classify(raw);
      if (line.kind == IniLine::kSection) names.push_back(line.name);
    }
    return CopyList(names, out, size);
  }
  bool inSection = false;
  std::vector<std::string> keys;
  for (const auto& raw : lines) {
    IniLine line = Classify(raw);
    if (line.kind == IniLine::kSection) {
      inSection = SameName(line.name, section);
      continue;
    }
    if (!inSection || line.kind != IniLine::kEntry) continue;
    if (key == nullptr) {
      keys.push_back(line.name);
    } else if (SameName(line.name, key)) {
      return CopyCut(StripQuotes(line.value), out, size);
    }
  }
  if (key == nullptr) return CopyList(keys, out, size);
  return CopyCut(Trim(def == nullptr ? "" : def), out, size);
}

int32_t KwGetPrivateProfileInt(const char* section, const char* key, int32_t def,
                               const char* file) {
  if (section == nullptr || key == nullptr) return def;
  // A marker default tells a missing key from a present one.
  const char* marker = "\x01missing\x01";
  char value[64];
  KwGetPrivateProfileString(section, key, marker, value, sizeof(value), file);
  if (std::strcmp(value, marker) == 0) return def;
  const char* p = value;
  if (*p == '-' || *p == '+') {
    if (*p == '-') return 0;  // Negative numbers read as 0.
    ++p;
  }
  int64_t number = 0;
  while (*p >= '0' && *p <= '9') {
    number = number * 10 + (*p - '0');
    if (number > INT32_MAX) return INT32_MAX;
    ++p;
  }
  return static_cast<int32_t>(number);
}

int32_t KwWritePrivateProfileString(const char* section, const char* key, const char* value,
                                    const char* file) {
  if (section == nullptr || file == nullptr || *file == '\0') return 0;
  // Names that could not be read back as written are refused.
  if (std::strpbrk(section, "]\r\n") != nullptr) return 0;
  if (key != nullptr && (std::strpbrk(key, "=\r\n") != nullptr || *key == '[' || *key == ';')) {
    return 0;
  }
  bool crlf = false;
  std::vector<std::string> lines = ReadLines(file, &crlf);
  // Find the section's first line and the line after its last entry.
  int sectionLine = -1;
  int insertAt = -1;
  int keyLine = -1;
  int sectionEnd = -1;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    IniLine line = Classify(lines[i]);
    if (line.kind == IniLine::kSection) {
      if (sectionLine >= 0 && sectionEnd < 0) sectionEnd = i;
      if (sectionLine < 0 && SameName(line.name, section)) {
        sectionLine = i;
        insertAt = i + 1;
      }
      continue;
    }
    if (sectionLine < 0 || sectionEnd >= 0) continue;
    if (line.kind == IniLine::kEntry) {
      insertAt = i + 1;
      if (key != nullptr && keyLine < 0 && SameName(line.name, key)) keyLine = i;
    }
  }
  if (sectionLine >= 0 && sectionEnd < 0) sectionEnd = static_cast<int>(lines.size());

  if (key == nullptr) {
    if (sectionLine < 0) return 1;
    lines.erase(lines.begin() + sectionLine, lines.begin() + sectionEnd);
  } else if (value == nullptr) {
    if (keyLine < 0) return 1;
    lines.erase(lines.begin() + keyLine);
  } else {
    std::string entry = std::string(key) + "=" + value;
    if (entry.find('\n') != std::string::npos || entry.find('\r') != std::string::npos) return 0;
    if (keyLine >= 0) {
      lines[keyLine] = entry;
    } else if (sectionLine >= 0) {
      lines.insert(lines.begin() + insertAt, entry);
    } else {
      lines.push_back(std::string("[") + section + "]");
      lines.push_back(entry);
    }
  }
  std::string text;
  const char* end = crlf ? "\r\n" : "\n";
  for (const auto& line : lines) {
    text += line;
    text += end;
  }
  return KwReplaceFileAtomic(file, text, 0644) == 0 ? 1 : 0;
}
