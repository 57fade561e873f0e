#include "tool/makepackage/kwunzippackage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "baseutil/kwfilehelpers.h"
#include "tool/makepackage/kwinflatepool.h"
#include "tool/makepackage/kwpkglog.h"
#include "tool/makepackage/kwrunbits.h"

using namespace kwpkg;

namespace {
const char kPut[] = "CKWUnzipPackage::PutBuffer";
const char kBegin[] = "CKWUnzipPackage::OnBeginFile";
const char kWrite[] = "CKWUnzipPackage::OnWriteFile";
const char kEnd[] = "CKWUnzipPackage::OnEndFile";

// Largest single write into a product file.  A whole 3.2 MB piece in one
// write lets the page cache take it in large folios, and copying into those
// measured from two to four times slower at random than the same bytes
// written a megabyte at a time.
constexpr size_t kWritePiece = 1 << 20;

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n < kWritePiece ? n : kWritePiece);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}
}  // namespace

CKWUnzipPackage::CKWUnzipPackage()
    : m_input(kMaxRecordSize), m_output(kChunkSize), m_inflater(KwMakeInflater(m_inflaterKind)) {}

CKWUnzipPackage::~CKWUnzipPackage() {
  // Work still queued is completed so no accepted byte is lost, but the owner
  // may be going away: nothing is reported any more.
  m_callback = nullptr;
  Finish();
  m_pool.reset();
  CloseOutput();
}

void CKWUnzipPackage::SetThreads(int threads) {
  if (m_streamOffset != 0) return;
  m_threads = threads < 1 ? 1 : threads;
  m_pool.reset(m_threads > 1 ? new KwInflatePool(m_threads, m_inflaterKind) : nullptr);
}

void CKWUnzipPackage::SetInflater(KwInflaterKind kind) {
  if (m_streamOffset != 0) return;
  m_inflaterKind = kind;
  m_inflater = KwMakeInflater(kind);
  if (m_pool) m_pool.reset(new KwInflatePool(m_threads, kind));
}

int32_t CKWUnzipPackage::Finish() {
  Drain(true);
  return m_failed ? -1 : 0;
}

void CKWUnzipPackage::Queue(int32_t type, const uint8_t* payload, int32_t length, int64_t offset) {
  QueuedRecord q{type, -1, length, offset, nullptr};
  if (type == kRecordData) {
    int slot;
    while ((slot = m_pool->TryAcquire()) < 0) DrainOne();
    KwInflatePool::Slot& s = m_pool->At(slot);
    std::memcpy(s.in.get(), payload, static_cast<size_t>(length));
    s.length = length;
    m_pool->Submit(slot);
    q.slot = slot;
  } else if (type == kRecordBegin || type == kRecordEnd) {
    q.desc.reset(new uint8_t[kDescriptorSize]);
    std::memcpy(q.desc.get(), payload, kDescriptorSize);
  }
  m_queue.push_back(std::move(q));
  Drain(false);
}

// Acts on the oldest queued record, waiting for its chunk if needed.
void CKWUnzipPackage::DrainOne() {
  if (m_queue.empty()) return;
  QueuedRecord q = std::move(m_queue.front());
  m_queue.pop_front();
  if (q.slot >= 0) {
    KwInflatePool::Slot& s = m_pool->Wait(q.slot);
    if (!m_failed) WriteInflated(s.result, s.out.get(), q.length, q.offset);
    m_pool->Release(q.slot);
  } else if (!m_failed) {
    OnRecord(q.type, q.desc.get(), q.length, q.offset);
  }
}

void CKWUnzipPackage::Drain(bool all) {
  while (!m_queue.empty()) {
    const QueuedRecord& front = m_queue.front();
    if (!all && front.slot >= 0 && !m_pool->IsDone(front.slot)) return;
    DrainOne();
  }
}

void CKWUnzipPackage::DiscardQueue() {
  while (!m_queue.empty()) {
    if (m_queue.front().slot >= 0) {
      m_pool->Wait(m_queue.front().slot);
      m_pool->Release(m_queue.front().slot);
    }
    m_queue.pop_front();
  }
}

void CKWUnzipPackage::SetTargetFolder(const char* folder) {
  m_targetFolder = folder ? folder : "";
  m_targetReady = false;
}

void CKWUnzipPackage::SetCallback(KwPkgCallback callback, void* context) {
  m_callback = callback;
  m_context = context;
}

void CKWUnzipPackage::Report(int32_t code, const char* text) {
  if (m_callback != nullptr) m_callback(m_context, code, text, m_total);
}

void CKWUnzipPackage::CloseOutput() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

void CKWUnzipPackage::Fail(int64_t offset, const std::string& why) {
  if (m_failed) return;
  m_failed = true;
  DiscardQueue();
  m_errorText = why;
  m_errorOffset = offset;
  CloseOutput();
  if (m_inFile) {
    m_inFile = false;
    ++m_badFiles;
  }
  m_fill = 0;
  KW_PKG_LOG(kPut, "error: %s at offset %lld", why.c_str(), static_cast<long long>(offset));
}

// A bad record found while parsing lies after everything queued: the queued
// records are completed first, as they would have been without threads.
void CKWUnzipPackage::FailParse(int64_t offset, const std::string& why) {
  Drain(true);
  Fail(offset, why);
}

int32_t CKWUnzipPackage::PutBuffer(const void* data, int32_t length) {
  if (m_failed) return -1;
  if (length < 0 || (length > 0 && data == nullptr)) {
    FailParse(m_streamOffset, "invalid push");
    return -1;
  }
  KW_PKG_LOG(kPut, "begin length:%d", length);
  const auto* p = static_cast<const uint8_t*>(data);
  int32_t left = length;
  while (left > 0 && !m_failed) {
    // Whole records are parsed straight from the caller's bytes; only a
    // record cut by the end of a push is copied, so memory never grows with
    // the push size.
    const uint8_t* rec;
    int32_t have;
    if (m_fill > 0) {
      const int32_t want =
          m_fill < kRecordHeaderSize
              ? kRecordHeaderSize
              : kRecordHeaderSize + static_cast<int32_t>(GetU32(m_input.get() + 4));
      const int32_t take = std::min(want - m_fill, left);
      std::memcpy(m_input.get() + m_fill, p, static_cast<size_t>(take));
      m_fill += take;
      p += take;
      left -= take;
      m_streamOffset += take;
      rec = m_input.get();
      have = m_fill;
    } else {
      rec = p;
      have = left;
    }
    const int64_t recOffset = m_fill > 0 ? m_streamOffset - m_fill : m_streamOffset;
    if (have < kRecordHeaderSize) {
      if (m_fill == 0) {
        std::memcpy(m_input.get(), p, static_cast<size_t>(left));
        m_fill = left;
        m_streamOffset += left;
        left = 0;
      }
      break;
    }
    const auto type = static_cast<int32_t>(GetU32(rec));
    const auto len = static_cast<int32_t>(GetU32(rec + 4));
    // Lengths are checked before anything is buffered: a well-formed stream
    // never carries these, and trusting them would read or write out of bounds.
    if (len < 0) {
      FailParse(recOffset, "negative record length " + std::to_string(len));
      break;
    }
    if (len == 0) {
      FailParse(recOffset, "empty record of type " + std::to_string(type));
      break;
    }
    if (len > kMaxCompressedChunk) {
      FailParse(recOffset, "record length " + std::to_string(len) + " exceeds the format's limit");
      break;
    }
    if ((type == kRecordBegin || type == kRecordEnd) && len != kDescriptorSize) {
      FailParse(recOffset, "file record of length " + std::to_string(len));
      break;
    }
    const int32_t whole = kRecordHeaderSize + len;
    if (have < whole) {
      if (m_fill == 0) {
        std::memcpy(m_input.get(), p, static_cast<size_t>(left));
        m_fill = left;
        m_streamOffset += left;
        left = 0;
      }
      if (left == 0) KW_PKG_LOG(kPut, "end %d > length:%d", len, m_fill - kRecordHeaderSize);
      continue;
    }
    if (m_fill == 0) {
      p += whole;
      left -= whole;
      m_streamOffset += whole;
    }
    m_fill = 0;
    if (m_pool) {
      Queue(type, rec + kRecordHeaderSize, len, recOffset);
    } else {
      OnRecord(type, rec + kRecordHeaderSize, len, recOffset);
    }
    KW_PKG_LOG(kPut, "length:%d", left);
  }
  return m_failed ? -1 : 0;
}

void CKWUnzipPackage::OnRecord(int32_t type, const uint8_t* payload, int32_t length,
                               int64_t offset) {
  switch (type) {
    case kRecordBegin:
      OnBeginFile(payload);
      break;
    case kRecordData:
      OnWriteFile(payload, length, offset);
      break;
    case kRecordEnd:
      OnEndFile(payload);
      break;
    default:
      KW_PKG_LOG(kPut, "error: %d", type);
      break;
  }
}

int CKWUnzipPackage::OpenTargetFile(const char* name, bool truncate) {
  if (m_targetFolder.empty()) return -1;
  if (!m_targetReady) {
    // The target folder itself is the owner's choice and may be created
    // through any path; only what lies below it is guarded.
    CreateFoldersForPath((m_targetFolder + "/x").c_str());
    m_targetReady = true;
  }
  int dir = ::open(m_targetFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  // Walk the stored name one folder at a time relative to an open folder, with
  // O_NOFOLLOW, so a symbolic link planted in the tree cannot redirect a write.
  const char* part = name + 1;
  for (;;) {
    const char* slash = std::strchr(part, '/');
    if (slash == nullptr) break;
    const std::string folder(part, slash);
    int next = ::openat(dir, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT) {
      ::mkdirat(dir, folder.c_str(), 0755);
      next = ::openat(dir, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    ::close(dir);
    if (next < 0) return -1;
    dir = next;
    part = slash + 1;
  }
  const int flags = O_CREAT | O_NOFOLLOW | O_CLOEXEC | (truncate ? O_WRONLY | O_TRUNC : O_RDWR);
  const int fd = ::openat(dir, part, flags, 0644);
  ::close(dir);
  return fd;
}

int32_t CKWUnzipPackage::ContinueFile(const char* storedName, int64_t expectedSize,
                                      int64_t written) {
  std::string why;
  if (storedName == nullptr || written < 0 || expectedSize < written ||
      !IsSafeStoredName(storedName, &why)) {
    return -1;
  }
  CloseOutput();
  const int fd = OpenTargetFile(storedName, false);
  if (fd < 0) return -1;
  struct stat st;
  uint8_t head[kRunBitsHeadSize] = {};
  ssize_t got = 0;
  if (::fstat(fd, &st) != 0 || st.st_size < written || ::ftruncate(fd, written) != 0 ||
      ::lseek(fd, written, SEEK_SET) != written ||
      (got = ::pread(fd, head, static_cast<size_t>(std::min<int64_t>(written, sizeof(head))), 0)) <
          0) {
    ::close(fd);
    return -1;
  }
  m_fd = fd;
  m_inFile = true;
  m_fileBad = false;
  m_expectedSize = expectedSize;
  m_written = written;
  m_currentName = storedName;
  m_currentPath = m_targetFolder + storedName;
  m_runBits.Reset();
  m_runBits.Add(head, static_cast<size_t>(got));
  KW_PKG_LOG(kBegin, "continue:%s at %lld of %lld", m_currentPath.c_str(),
             static_cast<long long>(written), static_cast<long long>(expectedSize));
  return 0;
}

void CKWUnzipPackage::OnBeginFile(const uint8_t* payload) {
  if (m_inFile) {
    // The previous file lacked its end record; it stays as written.
    KW_PKG_LOG(kBegin, "ERROR end:%s %lld / %lld (no end record)", m_currentPath.c_str(),
               static_cast<long long>(m_written), static_cast<long long>(m_expectedSize));
    ++m_badFiles;
  }
  CloseOutput();
  FileDescriptor d;
  bool terminated = false;
  DecodeDescriptor(payload, &d, &terminated);
  m_inFile = true;
  m_fileBad = false;
  m_expectedSize = d.size;
  m_written = 0;
  m_runBits.Reset();
  m_currentName = d.name;
  m_currentPath = m_targetFolder + d.name;
  std::string why;
  if (!terminated) why = "name without terminating NUL";
  if (!why.empty() || !IsSafeStoredName(d.name, &why)) {
    KW_PKG_LOG(kBegin, "error:%s refused: %s", m_currentPath.c_str(), why.c_str());
    m_fileBad = true;
    return;
  }
  m_fd = OpenTargetFile(d.name);
  if (m_fd < 0) {
    m_writeErrno = errno;
    KW_PKG_LOG(kBegin, "error:%s", m_currentPath.c_str());
    m_fileBad = true;
    return;
  }
  KW_PKG_LOG(kBegin, "begin:%s length:%lld", m_currentPath.c_str(),
             static_cast<long long>(m_expectedSize));
  Report(kFileBegun, d.name);
}

void CKWUnzipPackage::OnWriteFile(const uint8_t* payload, int32_t length, int64_t offset) {
  if (m_fd < 0) return;  // No file open: the chunk is consumed without effect.
  const KwInflateResult r =
      m_inflater->Inflate(payload, static_cast<size_t>(length), m_output.get(), kChunkSize);
  WriteInflated(r, m_output.get(), length, offset);
}

void CKWUnzipPackage::WriteInflated(const KwInflateResult& r, const uint8_t* out, int32_t length,
                                    int64_t offset) {
  if (m_fd < 0) return;
  if (r.verdict == KwInflateResult::kTooLong) {
    Fail(offset, "chunk inflates beyond 3200000 bytes");
    return;
  }
  size_t produced = r.produced;
  if (r.verdict != KwInflateResult::kOk) {
    KW_PKG_LOG(kWrite, "error: bad chunk of %d bytes (%d) in %s", length, r.code,
               m_currentPath.c_str());
    m_fileBad = true;
    produced = 0;
  }
  if (produced > 0 && !WriteAll(m_fd, out, produced)) {
    m_writeErrno = errno;
    KW_PKG_LOG(kWrite, "error: cannot write %s (%s)", m_currentPath.c_str(), std::strerror(errno));
    m_fileBad = true;
    CloseOutput();
    return;
  }
  m_runBits.Add(out, produced);
  m_written += static_cast<int64_t>(produced);
  m_total += static_cast<int64_t>(produced);
  KW_PKG_LOG(kWrite, "write: %d -> %d progress: %lld / %lld", length, static_cast<int>(produced),
             static_cast<long long>(m_written), static_cast<long long>(m_expectedSize));
  Report(kChunkWritten, "");
}

void CKWUnzipPackage::OnEndFile(const uint8_t* payload) {
  FileDescriptor d;
  bool terminated = false;
  DecodeDescriptor(payload, &d, &terminated);
  bool bad = m_fileBad || !m_inFile;
  if (!m_inFile) {
    KW_PKG_LOG(kEnd, "error: end record without a begin record");
  } else if (std::strcmp(d.name, m_currentName.c_str()) != 0) {
    KW_PKG_LOG(kEnd, "error: end record names another file");
    bad = true;
  }
  if (m_fd >= 0) {
    // Times are set only on the file this unpacker created, through its own
    // descriptor, never by looking a name up again.
    int64_t sec = 0, nsec = 0;
    FileTimeToUnix(PkgMsToFileTime(d.mtimeMs), &sec, &nsec);
    struct timespec ts[2];
    ts[0].tv_sec = static_cast<time_t>(sec);
    ts[0].tv_nsec = static_cast<long>(nsec);
    ts[1] = ts[0];
    ::futimens(m_fd, ts);
    // Set on every file, so a file that replaces an older one of another
    // kind gets the mode of its own content.
    if (m_umask < 0) m_umask = static_cast<int>(KwCurrentUmask());
    ::fchmod(m_fd, m_runBits.Mode(static_cast<mode_t>(m_umask)));
  }
  CloseOutput();
  const std::string path = m_inFile ? m_currentPath : m_targetFolder + d.name;
  m_inFile = false;
  ++m_filesEnded;
  Report(kFileEnded, d.name);
  if (!bad && m_written == m_expectedSize) {
    KW_PKG_LOG(kEnd, "OK end:%s %lld / %lld", path.c_str(), static_cast<long long>(m_written),
               static_cast<long long>(m_expectedSize));
  } else {
    ++m_badFiles;
    KW_PKG_LOG(kEnd, "ERROR end:%s %lld / %lld", path.c_str(), static_cast<long long>(m_written),
               static_cast<long long>(m_expectedSize));
  }
}
