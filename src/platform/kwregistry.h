// The key store that stands in for the system registry.
//
// Two hives, each one text file in the ".reg" export format:
//   current user:  $KW_REGISTRY_DIR/user.reg, else $XDG_CONFIG_HOME/kws/user.reg
//                  (default ~/.config/kws/user.reg)
//   local machine: $KW_REGISTRY_DIR/system.reg, else /var/lib/kws/system.reg
// A file holds sections "[SOFTWARE\kws\Tarnwick]" and lines "Name"="value"
// ("@" names the unnamed value).  Key paths and value names compare without
// regard to ASCII letter case and keep the case they were created with.
// Only string values exist.  In values, "\\", "\"", "\n", "\r", "\t" and
// "\xHH" (other control bytes) are escaped so every byte string survives.
//
// Every change re-reads the file and replaces it atomically (temporary file
// plus rename) while holding an exclusive advisory lock on "<file>.lock", so
// two processes writing at once never lose each other's values.  Readers
// need no lock: a rename is atomic, so they see the old or the new file.
// Lines that cannot be parsed never stop a read; the next write first copies
// the damaged file aside as "<file>.damaged-<seconds>" and logs it.
//
// Results are the system's error numbers: 0 success, 2 key or value missing,
// 5 no write access, 87 bad argument, 234 buffer too small, 259 no more
// items, 1018 key deleted meanwhile, 29 (write fault) when the file could
// not be replaced.  Nothing throws.
#pragma once

#include <cstdint>
#include <string>

enum class KwHive : int32_t { CurrentUser = 0, LocalMachine = 1 };

inline constexpr int32_t kKwRegOk = 0;
inline constexpr int32_t kKwRegNotFound = 2;
inline constexpr int32_t kKwRegAccessDenied = 5;
inline constexpr int32_t kKwRegWriteFault = 29;
inline constexpr int32_t kKwRegInvalidParameter = 87;
inline constexpr int32_t kKwRegMoreData = 234;
inline constexpr int32_t kKwRegNoMoreItems = 259;
inline constexpr int32_t kKwRegKeyDeleted = 1018;

// Access rights asked for when opening a key; they may be combined.
inline constexpr uint32_t kKwRegRead = 1;   // Query values and enumerate.
inline constexpr uint32_t kKwRegWrite = 2;  // Set and delete values, create and delete subkeys.

// An open key: the hive and the key's path.  It holds no file open; every
// call reads or rewrites the hive file.  Movable, not copyable; closing is
// only forgetting the path, so the destructor does it.
class KwRegKey {
 public:
  KwRegKey() = default;
  KwRegKey(KwRegKey&& other) noexcept;
  KwRegKey& operator=(KwRegKey&& other) noexcept;
  KwRegKey(const KwRegKey&) = delete;
  KwRegKey& operator=(const KwRegKey&) = delete;
  ~KwRegKey() = default;

  // Opens an existing key ("" or null is the hive's root).  Asking for write
  // access fails with 5 when the hive file cannot be written.
  static int32_t Open(KwHive hive, const char* path, uint32_t access, KwRegKey* out);
  // Opens the key, creating it and every missing key above it.
  static int32_t Create(KwHive hive, const char* path, uint32_t access, KwRegKey* out);

  bool IsOpen() const { return open_; }
  void Close() { open_ = false; }
  const std::string& Path() const { return path_; }

  // Reads a string value into `buffer`; `*size` is its capacity in bytes on
  // entry and the bytes needed (with the NUL) on return.  Too small gives 234
  // and leaves the buffer untouched, as the system call does.
  int32_t QueryString(const char* name, char* buffer, uint32_t* size) const;
  int32_t GetString(const char* name, std::string* value) const;
  int32_t SetString(const char* name, const char* value);
  int32_t DeleteValue(const char* name);

  // Deletes the subkey `subkey` (relative; "" or null means everything below
  // this key and its values, the key itself stays) with all it holds.
  int32_t DeleteTree(const char* subkey);
  // Deletes the subkey `subkey`, which must have no subkeys of its own.
  int32_t DeleteKey(const char* subkey);

  // Numbers of direct subkeys and of values.
  int32_t QueryInfo(uint32_t* subkeys, uint32_t* values) const;
  // Direct subkeys sorted by name ignoring case, values in file order; an
  // index past the end gives 259.
  int32_t EnumKey(uint32_t index, std::string* name) const;
  int32_t EnumValue(uint32_t index, std::string* name, std::string* value) const;

 private:
  KwHive hive_ = KwHive::CurrentUser;
  std::string path_;
  uint32_t access_ = 0;
  bool open_ = false;
};

// Full path of a hive's file as the current environment places it.
std::string KwRegistryFile(KwHive hive);
