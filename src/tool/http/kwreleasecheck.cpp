// Checking a signed release; see kwreleasecheck.h.
#include "tool/http/kwreleasecheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "baseutil/ikwlog.h"
#include "baseutil/kwed25519.h"
#include "tool/http/kwjsonaccess.h"
#include "tool/makepackage/kwrelease.h"

namespace {

std::mutex g_keyLock;
bool g_keyConfigured = false;
std::string g_keyHex;

std::string Text(const Json::Value& object, const char* member) {
  std::string out;
  if (object.isObject()) KwJsonText(object, member, &out);
  return out;
}

// The packages as the engine will take them: lengths read as decimal text,
// so the signed bytes are rebuilt from the same values the engine uses.
std::vector<KwReleaseVolume> AnswerVolumes(const Json::Value& data) {
  std::vector<KwReleaseVolume> out;
  const Json::Value& packages = data["packages"];
  if (!packages.isArray()) return out;
  for (const Json::Value& element : packages) {
    KwReleaseVolume v;
    v.length = std::strtoll(Text(element, "length").c_str(), nullptr, 10);
    v.checksum = Text(element, "checksum");
    v.sha256 = Text(element, "sha256");
    out.push_back(v);
  }
  return out;
}

}  // namespace

const char* KwReleaseVerdictKey(KwReleaseVerdict verdict) {
  switch (verdict) {
    case KwReleaseVerdict::Accepted:
      return "";
    case KwReleaseVerdict::KeyUnusable:
      return "releasekeybad";
    case KwReleaseVerdict::Unsigned:
      return "releaseunsigned";
    case KwReleaseVerdict::OtherKey:
      return "releaseotherkey";
    case KwReleaseVerdict::Changed:
      return "releasechanged";
    case KwReleaseVerdict::Expired:
      return "releaseexpired";
    case KwReleaseVerdict::Older:
      return "releaseolder";
  }
  return "releasechanged";
}

KwReleaseVerdict KwCheckReleaseAnswer(const Json::Value& data, const std::string& keyHex,
                                      int64_t now) {
  if (keyHex.empty()) return KwReleaseVerdict::KeyUnusable;
  if (!data.isObject() || !data["signature"].isObject()) return KwReleaseVerdict::Unsigned;
  const Json::Value& sig = data["signature"];
  std::string signature = Text(sig, "ed25519");
  int64_t expires = 0;
  if (signature.empty() || !KwJsonInt(sig, "expires", &expires)) {
    return KwReleaseVerdict::Unsigned;
  }
  // The key id only names the key for the message; the signature decides.
  std::string keyId = Text(sig, "key");
  // A manifest member is covered as well: dropping or swapping it breaks
  // the signature like any other change.
  KwReleaseManifest manifest;
  const bool hasManifest = data["manifest"].isObject();
  if (hasManifest) {
    manifest.length = std::strtoll(Text(data["manifest"], "length").c_str(), nullptr, 10);
    manifest.sha256 = Text(data["manifest"], "sha256");
  }
  std::string message = KwReleaseMessage(Text(data, "version"), Text(data, "buildtime"), expires,
                                         AnswerVolumes(data), hasManifest ? &manifest : nullptr);
  if (!KwEd25519Verify(keyHex, message, signature)) {
    return !keyId.empty() && keyId != KwEd25519KeyId(keyHex) ? KwReleaseVerdict::OtherKey
                                                             : KwReleaseVerdict::Changed;
  }
  return now > expires ? KwReleaseVerdict::Expired : KwReleaseVerdict::Accepted;
}

bool KwIsInlineReleaseKey(const std::string& value) {
  std::string keyHex, error;
  return !value.empty() && KwEd25519PublicKeyHex(value, &keyHex, &error);
}

std::string KwReleaseKeyFile(const std::string& iniPath, const std::string& value) {
  if (value.empty() || KwIsInlineReleaseKey(value)) return "";
  if (value[0] == '/') return value;
  const size_t slash = iniPath.find_last_of('/');
  std::string folder = slash == std::string::npos ? "" : iniPath.substr(0, slash + 1);
  if (folder.empty() || folder[0] != '/') {
    // An ini named relative to the current folder: the key is beside it
    // there, which the absolute name says once and for all.
    char here[4096];
    if (::getcwd(here, sizeof(here)) == nullptr) return value;
    folder = std::string(here) + "/" + folder;
  }
  return folder + value;
}

void KwSetReleaseKey(const std::string& value) {
  std::string text = value;
  std::string keyHex, error;
  if (!value.empty() && !KwIsInlineReleaseKey(value)) {
    struct stat st;
    text.clear();
    if (value[0] != '/') {
      error = "a key file must be named by its full path";
    } else if (stat(value.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      error = "no key file " + value;
    } else {
      std::ifstream in(value, std::ios::binary);
      text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  if (!value.empty() && (!error.empty() || !KwEd25519PublicKeyHex(text, &keyHex, &error))) {
    KW_LOG(1, "KwSetReleaseKey", "PUBKEY is unusable (%s): every release is refused",
           error.c_str());
    keyHex.clear();
  }
  std::lock_guard<std::mutex> lock(g_keyLock);
  g_keyConfigured = !value.empty();
  g_keyHex = keyHex;
}

bool KwConfiguredReleaseKey(std::string* keyHex) {
  std::lock_guard<std::mutex> lock(g_keyLock);
  *keyHex = g_keyHex;
  return g_keyConfigured;
}
