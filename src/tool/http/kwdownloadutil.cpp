// CKWDownloadUtilFor; see kwdownloadutil.h.
#include "tool/http/kwdownloadutil.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "baseutil/ikwlog.h"
#include "baseutil/kwsha256.h"
#include "network/http/ikwhttpclient.h"
#include "tool/http/kwcontentrange.h"
#include "tool/http/kwhttpdatacheck.h"
#include "tool/http/kwjsonaccess.h"
#include "tool/http/kwreleasefloor.h"
#include "tool/http/kwserverconfig.h"

namespace {

const char* const kFunc = "CKWDownloadUtilFor::GetVersion";

// Copies into a fixed entry field; false when the text had to be cut, by
// the field's size or by a NUL inside it ("\u0000" is valid JSON).
template <size_t N>
bool CopyField(char (&field)[N], const std::string& text) {
  std::snprintf(field, N, "%s", text.c_str());
  return text.size() < N && text.find('\0') == std::string::npos;
}

void CopyOut(char* out, size_t size, const char* text) {
  if (out == nullptr || size == 0) return;
  std::snprintf(out, size, "%s", text);
}

// Parses a whole body as one JSON document; false (logged) when it is not
// one, is too large or nested too deeply.
bool ParseJson(const char* body, size_t length, Json::Value* root) {
  std::string why;
  if (KwReadJson(body, length, root, &why, CKWDownloadUtilFor::kJsonBodyLimit) == kKwJsonOk)
    return true;
  KW_LOG(4, kFunc, "answer refused: %s", why.c_str());
  return false;
}

// Text after the last "/" or "\".
std::string LastComponent(const std::string& path) {
  size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

CKWDownloadUtilFor::CKWDownloadUtilFor(void* progressContext, ProgressFn progress)
    : m_progressContext(progressContext), m_progress(progress), m_baseUrl(KwServerBaseUrl()) {}

CKWDownloadUtilFor::~CKWDownloadUtilFor() = default;

void CKWDownloadUtilFor::SetBaseUrl(const char* url) {
  m_baseUrl = url ? url : "";
  while (!m_baseUrl.empty() && m_baseUrl.back() == '/') m_baseUrl.pop_back();
}

std::string CKWDownloadUtilFor::Timestamp() const {
  char text[32];
  long long now =
      m_clock ? static_cast<long long>(m_clock()) : static_cast<long long>(time(nullptr));
  std::snprintf(text, sizeof(text), "%lld", now);
  return text;
}

int CKWDownloadUtilFor::GetVersion(char* version, size_t versionSize,
                                   std::vector<PackageEntry>& entries) {
  m_volumes.clear();
  m_manifest = KwManifestRef();
  KW_LOG(4, kFunc, "======");
  std::string timestamp = Timestamp();
  CKwHttpDataCheck check;
  check.SetParam("timestamp", timestamp.c_str());
  std::string url = m_baseUrl + "/app/install/info?timestamp=" + KwUrlEncodeValue(timestamp) +
                    "&sign=" + check.GetSign();

  CKWHttpWithCurl client;
  client.SetBodyLimit(kJsonBodyLimit);
  client.SetAbortCheck(m_abort, m_abortContext);
  int32_t r = client.DoGet(url.c_str());
  KW_LOG(4, kFunc, "======[%s] r:%d", url.c_str(), r);
  if (r < 0) return -1;
  const char* body = client.GetResult();
  if (body == nullptr) return -5;
  KW_LOG(4, kFunc, "======[%s]", body);
  return ReadVersionAnswer(body, std::strlen(body), version, versionSize, entries);
}

int CKWDownloadUtilFor::ReadVersionAnswer(const char* body, size_t length, char* version,
                                          size_t versionSize, std::vector<PackageEntry>& entries) {
  m_volumes.clear();
  Json::Value root;
  if (!ParseJson(body, length, &root) || !root.isObject()) {
    KW_LOG(4, kFunc, "======");
    return -1;
  }
  int64_t code = -1;
  if (!KwJsonInt(root, "code", &code) || code != 0) return -3;
  std::string text;
  KwJsonText(root, "msg", &text);
  if (!root.isMember("data")) return -2;
  const Json::Value& data = root["data"];
  std::string buildtime;
  KwJsonText(data, "buildtime", &buildtime);
  // A configured release key admits only the release it signed, and none
  // built before one already accepted; checked before anything of the
  // answer is handed out.
  std::string releaseKey;
  m_refusal = KwReleaseVerdict::Accepted;
  if (KwConfiguredReleaseKey(&releaseKey)) {
    int64_t now = m_clock ? m_clock() : static_cast<int64_t>(time(nullptr));
    m_refusal = KwCheckReleaseAnswer(data, releaseKey, now);
    if (m_refusal == KwReleaseVerdict::Accepted && !KwAdmitBuildTime(buildtime)) {
      m_refusal = KwReleaseVerdict::Older;
    }
    if (m_refusal != KwReleaseVerdict::Accepted) {
      KW_LOG(4, kFunc, "release refused: %s", KwReleaseVerdictKey(m_refusal));
      return kReleaseRefused;
    }
  }
  std::string versionText;
  KwJsonText(data, "version", &versionText);
  CopyOut(version, versionSize, versionText.c_str());

  const Json::Value& packages = data.isObject() ? data["packages"] : Json::Value::nullSingleton();
  std::vector<std::unique_ptr<PackageEntry>> listed;
  bool refused = false;
  if (packages.isArray()) {
    for (const Json::Value& element : packages) {
      auto entry = std::make_unique<PackageEntry>();
      int64_t number = 0;
      if (KwJsonInt(element, "fileServerId", &number))
        entry->fileServerId = static_cast<int32_t>(number);
      if (KwJsonText(element, "length", &text))
        entry->length = std::strtoll(text.c_str(), nullptr, 10);
      if (KwJsonText(element, "lastModified", &text)) {
        entry->lastModified = std::strtoll(text.c_str(), nullptr, 10);
      }
      // A cut key names another volume (and is asked for in vain), a cut
      // checksum never matches: such an entry is refused, not shortened.
      if (KwJsonText(element, "key", &text) && !CopyField(entry->key, text)) {
        KW_LOG(4, kFunc, "volume key of %zu bytes refused: longer than %zu", text.size(),
               sizeof(entry->key) - 1);
        refused = true;
      }
      if (KwJsonText(element, "checksum", &text) && !CopyField(entry->checksum, text)) {
        KW_LOG(4, kFunc, "volume checksum of %zu bytes refused: longer than %zu", text.size(),
               sizeof(entry->checksum) - 1);
        refused = true;
      }
      // Anything but a digest would fail every volume; it is ignored instead.
      if (KwJsonText(element, "sha256", &text) && KwIsSha256Hex(text))
        CopyField(entry->sha256, text);
      listed.push_back(std::move(entry));
    }
  }
  if (refused) return -4;
  const Json::Value& manifest = data.isObject() ? data["manifest"] : Json::Value::nullSingleton();
  if (manifest.isObject()) {
    KwManifestRef ref;
    int64_t length = 0;
    // Anything unusable here only costs the update: the install falls back
    // to the full download.
    if (KwJsonText(manifest, "length", &text)) length = std::strtoll(text.c_str(), nullptr, 10);
    std::string sha, url;
    KwJsonText(manifest, "sha256", &sha);
    KwJsonText(manifest, "url", &url);
    if (length > 0 && KwIsSha256Hex(sha) && !url.empty()) {
      ref.present = true;
      ref.length = length;
      ref.sha256 = sha;
      ref.url = url;
      m_manifest = ref;
    } else {
      KW_LOG(4, kFunc, "the answer names an unusable manifest");
    }
  }
  for (auto& entry : listed) {
    entries.push_back(*entry);
    m_volumes.push_back(std::move(entry));
  }
  return 0;
}

int CKWDownloadUtilFor::GetDownloadUrl(PackageEntry& entry) {
  CopyField(entry.name, LastComponent(entry.key));
  std::string timestamp = Timestamp();
  char serverId[16];
  std::snprintf(serverId, sizeof(serverId), "%d", entry.fileServerId);
  CKwHttpDataCheck check;
  check.SetParam("timestamp", timestamp.c_str());
  check.SetParam("key", entry.key);
  check.SetParam("fileServerId", serverId);
  // The signature covers the values themselves; only their spelling in the
  // URL is escaped, and the server signs what it decodes.
  std::string url = m_baseUrl + "/app/file/download-url?key=" + KwUrlEncodeValue(entry.key) +
                    "&fileServerId=" + serverId + "&timestamp=" + KwUrlEncodeValue(timestamp) +
                    "&sign=" + check.GetSign();

  CKWHttpWithCurl client;
  client.SetBodyLimit(kJsonBodyLimit);
  client.SetAbortCheck(m_abort, m_abortContext);
  int32_t r = client.DoGet(url.c_str());
  KW_LOG(4, kFunc, "======[%s] r:%d", url.c_str(), r);
  if (r < 0) return r;
  const char* body = client.GetResult();
  if (body == nullptr) return -4;
  return ReadDownloadUrlAnswer(body, std::strlen(body), entry);
}

int CKWDownloadUtilFor::ReadDownloadUrlAnswer(const char* body, size_t length,
                                              PackageEntry& entry) {
  Json::Value root;
  if (!ParseJson(body, length, &root) || !root.isObject()) return -1;
  int64_t code = -1;
  if (!KwJsonInt(root, "code", &code) || code != 0) return -2;
  if (!root.isMember("data")) return -3;
  std::string address;
  if (!KwJsonText(root, "data", &address) || address.empty()) {
    // An object or an empty text is no address; success would leave the
    // caller fetching from nowhere.
    KW_LOG(4, kFunc, "answer without a usable download address");
    return -3;
  }
  if (address.size() >= sizeof(entry.url) || address.find('\0') != std::string::npos) {
    // A cut address would fetch something else (or nothing, when a NUL
    // comes first); better no address at all.
    KW_LOG(4, kFunc, "download address of %zu bytes is too long or holds a NUL", address.size());
    return -3;
  }
  CopyField(entry.url, address);
  // Other file servers holding the volume, when the server names them;
  // anything in the list that is not a usable address is passed over.
  entry.mirrorCount = 0;
  const Json::Value& mirrors = root["mirrors"];
  if (mirrors.isArray()) {
    for (const Json::Value& m : mirrors) {
      if (entry.mirrorCount >= PackageEntry::kMaxMirrors) break;
      if (!m.isString()) continue;
      const std::string text = m.asString();
      if (text.empty() || text.size() >= sizeof(entry.mirrors[0])) continue;
      CopyField(entry.mirrors[entry.mirrorCount++], text);
    }
  }
  return 0;
}

int32_t CKWDownloadUtilFor::ReadRange(const char* url, int64_t offset, int32_t length, char* dest,
                                      int64_t* total) {
  if (url == nullptr || offset < 0 || length <= 0 || dest == nullptr) return -2;
  CKWHttpWithCurl client;
  client.SetProgress(m_progress, m_progressContext);
  client.SetAbortCheck(m_abort, m_abortContext);
  client.SetRange(offset, length);
  // More than the range cannot be the range; stop reading instead of
  // buffering a whole volume that a server sent in place of the range.
  client.SetBodyLimit(length);
  int32_t r = client.DoGet(url);
  if (r < 0) return r;
  int32_t n = client.resultLength();
  std::string range = KwContentRangeOf(client.headerText());
  std::snprintf(client.m_contentRange, sizeof(client.m_contentRange), "%s", range.c_str());
  if (n != length) {
    KW_LOG(4, kFunc, "range %lld+%d of %s: %d bytes arrived", static_cast<long long>(offset),
           length, url, n);
    return -2;
  }
  // Only a partial answer for exactly the bytes asked for is data; a whole
  // file, another range or an error page of the right size is not.
  KwContentRange parsed;
  if (client.statusCode() != 206 || !KwParseContentRange(range, &parsed) ||
      parsed.first != offset || parsed.last != offset + length - 1) {
    KW_LOG(4, kFunc, "range %lld+%d of %s: status %ld, Content-Range [%s]",
           static_cast<long long>(offset), length, url, client.statusCode(), range.c_str());
    return -2;
  }
  if (total != nullptr) *total = parsed.total;
  std::memcpy(dest, client.body(), static_cast<size_t>(n));
  return n;
}

int CKWDownloadUtilFor::FindEmbeddedPackage(char* version, size_t versionSize, FILE* file) {
  m_volumes.clear();
  auto entry = std::make_unique<PackageEntry>();
  CopyField(entry->url, "mem");
  m_volumes.push_back(std::move(entry));
  if (file == nullptr) return -1;

  long start = std::ftell(file);
  // The last 24 bytes read, oldest first once full; compared whole at every
  // byte so partial marker runs before the real one cannot hide it.
  unsigned char window[24];
  int64_t consumed = 0;
  int c;
  while ((c = std::fgetc(file)) != EOF) {
    ++consumed;
    std::memmove(window, window + 1, 23);
    window[23] = static_cast<unsigned char>(c);
    if (consumed < 24 || c != 0x03) continue;
    bool marker = true;
    for (int i = 0; i < 24 && marker; ++i) marker = window[i] == (i / 8) + 1;
    if (!marker) continue;
    char name[8];
    size_t got = std::fread(name, 1, sizeof(name), file);
    if (got != sizeof(name)) return -1;  // A marker with no package behind it.
    consumed += 8;
    char text[9] = {};
    std::memcpy(text, name, 8);
    CopyOut(version, versionSize, text);
    m_embeddedOffset = (start > 0 ? start : 0) + consumed;
    return 0;
  }
  return -1;
}

int CKWDownloadUtilFor::FindLocalVolumes(char* version, size_t versionSize,
                                         const char* firstVolume) {
  m_volumes.clear();
  if (firstVolume == nullptr) return -1;
  std::string base = firstVolume;
  size_t cut = base.rfind('_');
  if (cut != std::string::npos) base.resize(cut);
  CopyOut(version, versionSize, LastComponent(base).c_str());
  for (int k = 0; k < 1024; ++k) {
    char number[16];
    std::snprintf(number, sizeof(number), "_%03d.tmp", k);
    const std::string path = base + number;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) break;
    auto entry = std::make_unique<PackageEntry>();
    // A cut path or name would name another file: the volumes are refused.
    if (!CopyField(entry->localPath, path) || !CopyField(entry->name, LastComponent(path))) {
      KW_LOG(4, "CKWDownloadUtilFor::FindLocalVolumes", "volume path of %zu bytes refused: %s",
             path.size(), path.c_str());
      m_volumes.clear();
      return -1;
    }
    entry->length = st.st_size;
    m_volumes.push_back(std::move(entry));
  }
  return m_volumes.empty() ? -1 : 0;
}
