// The process-wide text log.  One mutex serialises the shared message
// buffer, the file handle, the file number and the record count, so a record
// of one thread is never split by another thread's record.
#include "baseutil/ikwlog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "baseutil/kwboundedmutex.h"
#include "baseutil/kwfilehelpers.h"

namespace {

constexpr int kBufferSize = 640008;
constexpr int kMessageLimit = 640000;  // 639,999 bytes of text plus the NUL.
constexpr int kRootSize = 512;
constexpr int kPrefixSize = 4;
constexpr int kPathSize = 1100;
constexpr int kBaseNameLimit = 1000;
constexpr int kRecordsPerFile = 20000;
constexpr auto kLockBound = std::chrono::milliseconds(1000);

std::atomic<int32_t> g_enabled{0};
std::atomic<int32_t> g_threshold{0};
char g_root[kRootSize];
char g_prefix[kPrefixSize];

// The mutex lives for the whole process: a function-local static is created
// exactly once even when the first calls come from several threads at once.
KwBoundedMutex& LogMutex() {
  static KwBoundedMutex mutex;
  return mutex;
}

// Everything below is guarded by LogMutex().
char* g_buffer = nullptr;
int g_lastMessageLength = 0;
int g_fd = -1;
char g_seriesBase[kPathSize];
int32_t g_fileNumber = 1;
int32_t g_recordCount = 0;
// Records given up because another thread held the log for the whole bound;
// reported by the next record that gets the lock.
std::atomic<int32_t> g_dropped{0};

void CopyText(char* dst, size_t size, const char* src) {
  if (src == nullptr) src = "";
  std::snprintf(dst, size, "%s", src);
}

const char* BaseName(const char* path) {
  if (path == nullptr) return "";
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}

void LocalNow(struct tm* parts, int* millis) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  time_t seconds = now.tv_sec;
  localtime_r(&seconds, parts);
  *millis = static_cast<int>(now.tv_nsec / 1000000);
}

void WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // Write errors are ignored by design.
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
}

// Creates (or replaces) the log file `path` for this process alone.  Linux has
// no share modes, so an exclusive advisory lock stands in for them: a second
// process that forms the same name while the first still holds the file
// cannot use it and drops its records.  The file is emptied only after the
// lock is held, so the other process's records are never cut away.
int OpenExclusive(const char* path) {
  int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void OpenNextFile() {
  char name[kPathSize + 16];
  std::snprintf(name, sizeof(name), "%s_%d.log", g_seriesBase, g_fileNumber);
  ++g_fileNumber;
  CreateFoldersForPath(name);
  g_fd = OpenExclusive(name);
}

void StartSeries() {
  g_recordCount = 0;
  struct tm t;
  int millis = 0;
  LocalNow(&t, &millis);
  char stamp[32];
  std::snprintf(stamp, sizeof(stamp), "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  std::snprintf(g_seriesBase, sizeof(g_seriesBase), "%s/log/%s%s", g_root, g_prefix, stamp);
  char folder[kPathSize];
  std::snprintf(folder, sizeof(folder), "%s/log", g_root);
  ::mkdir(folder, 0755);  // One level; an error is ignored.
  g_fileNumber = 1;
  OpenNextFile();
}

// Writes one record; the caller holds the mutex and has formatted the
// message into g_buffer.
void WriteRecordLocked(const char* stamp, const char* where, size_t messageLength) {
  if (g_fd < 0) StartSeries();
  if (g_fd >= 0 && g_recordCount >= kRecordsPerFile) {
    ::close(g_fd);
    g_fd = -1;
    OpenNextFile();
    g_recordCount = 0;
  }
  if (g_fd < 0) return;  // Dropped; the next call tries again.
  WriteAll(g_fd, stamp, std::strlen(stamp));
  WriteAll(g_fd, where, std::strlen(where));
  WriteAll(g_fd, g_buffer, messageLength);
  WriteAll(g_fd, "\r\n", 2);
  ++g_recordCount;
}

void FormatStamp(char* out, size_t size) {
  struct tm t;
  int millis = 0;
  LocalNow(&t, &millis);
  std::snprintf(out, size, "%04d/%02d/%02d %02d:%02d:%02d.%03d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis);
}

}  // namespace

void WriteLog(int32_t level, const char* sourceFile, const char* function, int32_t line,
              const char* format, ...) {
  int32_t threshold = g_threshold.load(std::memory_order_relaxed);
  if (g_enabled.load(std::memory_order_relaxed) == 0 || level == 0 || threshold == 0 ||
      level < threshold) {
    return;
  }
  // A record that cannot get the log within the bound is dropped rather than
  // written without the lock; the count of such records is logged by the
  // next writer so the gap is visible in the file.
  std::unique_lock<KwBoundedMutex> lock(LogMutex(), std::defer_lock);
  if (!lock.try_lock_for(kLockBound)) {
    g_dropped.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  // The check above ran without the lock; a shutdown may have come between
  // it and the lock.  Such a record is dropped: writing it would open the
  // run's log file again and empty it.
  if (g_enabled.load(std::memory_order_relaxed) == 0) return;
  if (g_buffer == nullptr) {
    g_buffer = static_cast<char*>(std::calloc(kBufferSize, 1));
    g_lastMessageLength = 0;
    if (g_buffer == nullptr) return;
  }
  // The buffer is all zero between records: only the bytes the previous
  // record used need clearing, which keeps a record free of large memsets.
  std::memset(g_buffer, 0, static_cast<size_t>(g_lastMessageLength));

  char stamp[40];
  FormatStamp(stamp, sizeof(stamp));
  char base[kBaseNameLimit + 1];
  CopyText(base, sizeof(base), BaseName(sourceFile));

  int32_t dropped = g_dropped.exchange(0, std::memory_order_relaxed);
  if (dropped > 0) {
    int n =
        std::snprintf(g_buffer, kMessageLimit, "%d records dropped: log busy for 1000 ms", dropped);
    char where[64];
    std::snprintf(where, sizeof(where), " %s:%s(%d) ", "ikwlog.cpp", "WriteLog", __LINE__);
    WriteRecordLocked(stamp, where, static_cast<size_t>(n));
    std::memset(g_buffer, 0, static_cast<size_t>(n));
  }

  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(g_buffer, kMessageLimit, format == nullptr ? "" : format, args);
  va_end(args);
  if (n < 0) n = 0;
  if (n > kMessageLimit - 1) n = kMessageLimit - 1;
  g_lastMessageLength = n;

  // Base name (up to 1000 bytes) plus function name and line.
  size_t whereSize = std::strlen(base) + (function ? std::strlen(function) : 0) + 32;
  char whereSmall[1200];
  char* where = whereSmall;
  char* whereHeap = nullptr;
  if (whereSize > sizeof(whereSmall)) {
    whereHeap = static_cast<char*>(std::malloc(whereSize));
    if (whereHeap == nullptr) return;
    where = whereHeap;
  }
  std::snprintf(where, whereSize, " %s:%s(%d) ", base, function ? function : "", line);
  WriteRecordLocked(stamp, where, static_cast<size_t>(n));
  std::free(whereHeap);
}

void KwLogConfigure(const char* root, const char* prefix, int32_t threshold, int32_t enabled) {
  std::lock_guard<KwBoundedMutex> lock(LogMutex());
  CopyText(g_root, sizeof(g_root), root);
  CopyText(g_prefix, sizeof(g_prefix), prefix);
  g_threshold.store(threshold);
  g_enabled.store(enabled);
}

void KwLogSetThreshold(int32_t threshold) {
  g_threshold.store(threshold);
}

void KwLogShutdown() {
  std::lock_guard<KwBoundedMutex> lock(LogMutex());
  g_enabled.store(0);
  if (g_fd >= 0) ::close(g_fd);
  g_fd = -1;
  std::free(g_buffer);
  g_buffer = nullptr;
  g_lastMessageLength = 0;
  g_recordCount = 0;
  g_fileNumber = 1;
  g_dropped.store(0);
}
