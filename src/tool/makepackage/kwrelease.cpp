// release.json and the bytes its signature covers; see kwrelease.h.
#include "tool/makepackage/kwrelease.h"

#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>

#include "baseutil/kwjsonread.h"
#include "baseutil/kwsha256.h"
#include "platform/kwatomicfile.h"
#include "tool/makepackage/kwmanifest.h"

namespace {

// Bytes below 0x20, backslash and the field separator become \xHH.
std::string Escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == '\\' || c == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Cased(const std::string& text, bool upper) {
  std::string out = text;
  for (char& c : out) {
    c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                : std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string UtcNow() {
  std::time_t t = std::time(nullptr);
  struct tm tm;
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// A fresh temporary name, flushed and renamed over the file (kwatomicfile.h):
// never a fixed name a link could have been planted at.
int32_t WriteAtomically(const std::string& path, const std::string& text) {
  return KwReplaceFileAtomic(path, text, 0644) == 0 ? 0 : -1;
}

// Fills `release` from a parsed document; -1 when it is no object with a
// "volumes" list.  Members of the wrong kind read as empty.
int32_t ReleaseOf(const Json::Value& root, KwRelease* release) {
  if (!root.isObject() || !root["volumes"].isArray()) return -1;
  *release = KwRelease();
  release->version = KwJsonTextOr(root, "version");
  release->buildtime = KwJsonTextOr(root, "buildtime");
  for (const Json::Value& item : root["volumes"]) {
    if (!item.isObject()) continue;
    KwReleaseVolume v;
    v.name = KwJsonTextOr(item, "name");
    v.length = KwJsonLength(item["length"]);
    v.checksum = KwJsonTextOr(item, "checksum");
    v.sha256 = KwJsonTextOr(item, "sha256");
    release->volumes.push_back(v);
  }
  const Json::Value& manifest = root["manifest"];
  if (manifest.isObject()) {
    release->hasManifest = true;
    release->manifest.name = KwJsonTextOr(manifest, "name");
    release->manifest.length = KwJsonLength(manifest["length"]);
    release->manifest.sha256 = KwJsonTextOr(manifest, "sha256");
  }
  const Json::Value& sig = root["signature"];
  if (sig.isObject()) {
    release->isSigned = true;
    release->signature.expires = KwJsonLength(sig["expires"]);
    release->signature.keyId = KwJsonTextOr(sig, "key");
    release->signature.signature = KwJsonTextOr(sig, "ed25519");
  }
  return 0;
}

}  // namespace

KwReleaseManifest KwDescribeManifestBytes(const std::string& bytes) {
  KwReleaseManifest m;
  m.name = kKwManifestFileName;
  m.length = static_cast<int64_t>(bytes.size());
  m.sha256 = KwSha256Hex(bytes.data(), bytes.size());
  return m;
}

Json::Value KwReleaseManifestJson(const KwReleaseManifest& manifest) {
  Json::Value m(Json::objectValue);
  m["name"] = manifest.name;
  m["length"] = std::to_string(manifest.length);
  m["sha256"] = manifest.sha256;
  return m;
}

std::string KwReleaseMessage(const std::string& version, const std::string& buildtime,
                             int64_t expires, const std::vector<KwReleaseVolume>& volumes,
                             const KwReleaseManifest* manifest) {
  std::string out = "tarnwick release 1\n";
  out += "version " + Escape(version) + "\n";
  out += "buildtime " + Escape(buildtime) + "\n";
  out += "expires " + std::to_string(expires) + "\n";
  out += "volumes " + std::to_string(volumes.size()) + "\n";
  for (size_t i = 0; i < volumes.size(); ++i) {
    const KwReleaseVolume& v = volumes[i];
    out += std::to_string(i) + " " + std::to_string(v.length) + " " +
           Escape(Cased(v.checksum, true)) + " " + Escape(Cased(v.sha256, false)) + "\n";
  }
  if (manifest != nullptr) {
    out += "manifest " + std::to_string(manifest->length) + " " +
           Escape(Cased(manifest->sha256, false)) + "\n";
  }
  return out;
}

Json::Value KwReleaseSignatureJson(const KwReleaseSignature& signature) {
  Json::Value sig(Json::objectValue);
  sig["expires"] = std::to_string(signature.expires);
  sig["key"] = signature.keyId;
  sig["ed25519"] = signature.signature;
  return sig;
}

std::string KwBuildReleaseJson(const KwRelease& release) {
  Json::Value root(Json::objectValue);
  root["version"] = release.version;
  root["buildtime"] = release.buildtime;
  Json::Value list(Json::arrayValue);
  for (const KwReleaseVolume& v : release.volumes) {
    Json::Value item(Json::objectValue);
    item["name"] = v.name;
    item["length"] = std::to_string(v.length);
    item["checksum"] = v.checksum;
    item["sha256"] = v.sha256;
    list.append(item);
  }
  root["volumes"] = list;
  if (release.hasManifest) root["manifest"] = KwReleaseManifestJson(release.manifest);
  if (release.isSigned) root["signature"] = KwReleaseSignatureJson(release.signature);
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "  ";
  return Json::writeString(builder, root) + "\n";
}

int32_t KwSaveRelease(const std::string& folder, const KwRelease& release) {
  return WriteAtomically(folder + "/" + kKwReleaseFileName, KwBuildReleaseJson(release));
}

int32_t KwWriteReleaseJson(const std::string& folder, const std::string& version,
                           const std::vector<KwVolumeEntry>& entries,
                           const KwReleaseManifest* manifest) {
  KwRelease release;
  if (manifest != nullptr) {
    release.hasManifest = true;
    release.manifest = *manifest;
  }
  release.version = version;
  release.buildtime = UtcNow();
  for (const KwVolumeEntry& e : entries) {
    release.volumes.push_back({e.name, e.size, e.checksum, e.sha256});
  }
  return KwSaveRelease(folder, release);
}

int32_t KwLoadRelease(const std::string& folder, KwRelease* release, std::string* error) {
  const std::string path = folder + "/" + kKwReleaseFileName;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return 1;
  Json::Value root;
  std::string why;
  if (KwReadJsonFile(path, &root, &why) != kKwJsonOk) {
    *error = path + " is not a release file: " + why;
    return -1;
  }
  if (ReleaseOf(root, release) != 0) {
    *error = path + " is not a release file: no \"volumes\" list";
    return -1;
  }
  return 0;
}

int32_t KwParseRelease(const std::string& text, KwRelease* release, std::string* error) {
  Json::Value root;
  std::string why;
  if (KwReadJson(text, &root, &why) != kKwJsonOk) {
    *error = "not a release file: " + why;
    return -1;
  }
  if (ReleaseOf(root, release) != 0) {
    *error = "not a release file: no \"volumes\" list";
    return -1;
  }
  return 0;
}
