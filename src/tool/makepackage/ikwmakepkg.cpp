#include "tool/makepackage/ikwmakepkg.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "main/kwglobals.h"
#include "tool/makepackage/kwchunkpipeline.h"
#include "tool/makepackage/kwcontentcut.h"
#include "tool/makepackage/kwmanifest.h"
#include "tool/makepackage/kwpkglog.h"
#include "tool/makepackage/kwrelease.h"

using namespace kwpkg;

namespace {
const char kAddToList[] = "IKWMakePkg::AddToList";
const char kWalk[] = "IKWMakePkg::startcopyfrom";
const char kMakeOne[] = "IKWMakePkg::makeonefile";

bool WriteAllV(int fd, struct iovec* iov, int count) {
  while (count > 0) {
    const ssize_t w = ::writev(fd, iov, count);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    size_t done = static_cast<size_t>(w);
    while (count > 0 && done >= iov->iov_len) {
      done -= iov->iov_len;
      ++iov;
      --count;
    }
    if (count > 0) {
      iov->iov_base = static_cast<uint8_t*>(iov->iov_base) + done;
      iov->iov_len -= done;
    }
  }
  return true;
}

// Reads until `want` bytes arrived or the file ended, so chunk boundaries do
// not depend on how the system splits reads.  Returns the count, -1 on error.
int64_t ReadFull(int fd, uint8_t* buf, int64_t want) {
  int64_t got = 0;
  while (got < want) {
    const ssize_t r = ::read(fd, buf + got, static_cast<size_t>(want - got));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    got += r;
  }
  return got;
}
}  // namespace

IKWMakePkg::IKWMakePkg(int threads, int64_t volumeThreshold)
    : m_threads(threads > 0 ? threads
                            : std::max(1, static_cast<int>(std::thread::hardware_concurrency()))),
      m_threshold(volumeThreshold > 0 ? volumeThreshold : kVolumeThreshold) {}

IKWMakePkg::~IKWMakePkg() {
  if (!Done()) {
    Cancel();
    WaitDone();
  }
  if (m_thread.joinable()) m_thread.join();
  // Records queued by a direct makeonefile() call outside a run still land.
  if (m_pipeline) m_pipeline->Flush();
  m_pipeline.reset();
  CloseVolume();
}

int32_t IKWMakePkg::Start() {
  if (!Done()) return -1;
  if (m_thread.joinable()) m_thread.join();
  m_volumeFd = -1;
  m_nextVolume = 0;
  m_volumePayload = 0;
  g_makeStopFlag = 0;
  SetRunning();
  m_thread = std::thread([this] { Run(); });
  return 0;
}

void IKWMakePkg::WaitDone() {
  while (!Done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool IKWMakePkg::ShouldGo() const {
  return m_running.load() != 0 && g_makeStopFlag.load() == 0 && !m_writeFailed;
}

namespace {
// The first few names for a one-line summary; the full list stays available
// to the caller.
std::string NameList(const std::vector<std::string>& names) {
  constexpr size_t kShown = 5;
  std::string text;
  for (size_t i = 0; i < names.size() && i < kShown; ++i) {
    if (i > 0) text += ", ";
    text += names[i];
  }
  if (names.size() > kShown) text += " and " + std::to_string(names.size() - kShown) + " more";
  return text;
}
}  // namespace

void IKWMakePkg::NoteError(const std::string& why) {
  if (m_errorText.empty()) m_errorText = why;
}

void IKWMakePkg::Report(int32_t code, const char* text) {
  if (m_callback != nullptr) m_callback(m_context, code, text, m_total);
}

void IKWMakePkg::Run() {
  m_volumes.clear();
  m_total = 0;
  m_bytesRead = 0;
  m_filesPacked = m_filesFailed = 0;
  m_failedFiles.clear();
  m_skippedEntries.clear();
  m_writeFailed = m_listWritten = m_manifestWritten = false;
  m_manifest = KwManifestBuilder();
  m_errorText.clear();
  m_cancelled = false;
  m_producedVolumes.clear();
  m_pipeline.reset(new KwChunkPipeline(this, m_threads));
  Report(kCodeStart, "start");
  struct stat st;
  if (::stat(m_sourceFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    NoteError("cannot read the source folder " + m_sourceFolder);
  const int32_t walk = startcopyfrom(m_sourceFolder, "");
  if (!m_pipeline->Flush()) m_writeFailed = true;
  Report(kCodeEnd, "end");
  if (m_volumeFd >= 0) {
    CloseVolume();
    AddToList();
  }
  m_pipeline.reset();
  if (m_owner != nullptr) m_owner->OnMakeCommand(kCommandDone);
  if (walk != 0) {
    // A cancelled run holds only part of the tree.  It writes no list, and
    // the lists of an earlier package go too (their volumes were just
    // overwritten), so nothing in the folder passes for a complete package.
    NoteError("cancelled");
    m_cancelled = true;
    for (const std::string& name : {std::string("list.json"), std::string(kKwReleaseFileName),
                                    std::string(kKwManifestFileName)}) {
      const std::string path = m_outputFolder + "/" + name;
      if (::unlink(path.c_str()) != 0 && errno != ENOENT) NoteError("cannot remove " + path);
    }
  } else {
    m_listWritten = KwWriteListJson(m_outputFolder, m_volumes) == 0;
    if (!m_listWritten) NoteError("cannot write " + m_outputFolder + "/list.json");
  }
  if (m_filesFailed > 0) {
    NoteError(std::to_string(m_filesFailed) + " file(s) failed: " + NameList(m_failedFiles));
  }
  if (!m_skippedEntries.empty() && !m_skipUnpackable) {
    NoteError(std::to_string(m_skippedEntries.size()) +
              " link(s) or special file(s) not packed: " + NameList(m_skippedEntries));
  }
  if (m_listWritten) WriteReleaseFiles();
  m_result = m_errorText.empty() ? 0 : -1;
  m_done = 1;
}

void IKWMakePkg::WriteReleaseFiles() {
  const std::string manifestPath = m_outputFolder + "/" + kKwManifestFileName;
  KwReleaseManifest described;
  // Only a whole package gets a manifest: an installer would otherwise
  // take a partial one for the release.  A manifest of an earlier run
  // must not stay beside volumes it does not describe.
  std::string why;
  if (m_errorText.empty() && m_manifest.Complete() &&
      KwManifestConsistent(m_manifest.manifest(), &why)) {
    const std::string bytes = KwEncodeManifest(m_manifest.manifest());
    if (KwWriteFileAtomically(manifestPath, bytes) == 0) {
      described = KwDescribeManifestBytes(bytes);
      m_manifestWritten = true;
    } else {
      NoteError("cannot write " + manifestPath);
    }
  } else {
    if (!why.empty()) KW_PKG_LOG(kAddToList, "no manifest: %s", why.c_str());
    ::unlink(manifestPath.c_str());
  }
  // The digests beside the list; the package name stands for the version,
  // as the server publishes it under that name unless told otherwise.
  if (KwWriteReleaseJson(m_outputFolder, m_packageName, m_volumes,
                         m_manifestWritten ? &described : nullptr) != 0)
    NoteError("cannot write " + m_outputFolder + "/" + kKwReleaseFileName);
}

int32_t IKWMakePkg::startcopyfrom(const std::string& source, const std::string& relative) {
  DIR* dir = ::opendir(source.c_str());
  if (dir == nullptr) return 0;
  std::vector<std::string> names;
  while (struct dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.') continue;  // Also skips "." and "..".
    names.emplace_back(e->d_name);
  }
  ::closedir(dir);
  // Sorted by bytes, so the same tree packs to the same volumes everywhere.
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (!ShouldGo()) break;
    const std::string path = source + "/" + name;
    const std::string stored = relative + "/" + name;
    struct stat lst;
    if (::lstat(path.c_str(), &lst) != 0) continue;  // Vanished since the listing.
    struct stat st = lst;
    bool broken = false;
    if (S_ISLNK(lst.st_mode)) {
      if (::stat(path.c_str(), &st) != 0) {
        broken = true;  // Packing it fails and is reported like any unreadable file.
      } else if (S_ISDIR(st.st_mode)) {
        // Following it could walk forever or pack a tree outside the source.
        KW_PKG_LOG(kWalk, "skip link to folder:%s", path.c_str());
        m_skippedEntries.push_back(stored + ": link to a folder");
        continue;
      }
    }
    if (S_ISDIR(st.st_mode)) {
      const int32_t rc = startcopyfrom(path, stored);
      if (rc != 0) {
        KW_PKG_LOG(kWalk, "%s error:%d", name.c_str(), rc);
        return rc;
      }
      continue;
    }
    if (!S_ISREG(st.st_mode) && !broken) {
      // Pipes, sockets and devices have no content to pack; reading a pipe
      // could block the run for ever.
      KW_PKG_LOG(kWalk, "skip special file:%s", path.c_str());
      m_skippedEntries.push_back(stored + ": special file");
      continue;
    }
    if (!broken && IsProducedVolume(st.st_dev, st.st_ino)) {
      KW_PKG_LOG(kWalk, "skip own volume:%s", path.c_str());
      continue;
    }
    Report(kCodeFileBegin, stored.c_str());
    const int32_t rc = makeonefile(path, stored);
    Report(kCodeFileDone, stored.c_str());
    if (rc != 0) {
      ++m_filesFailed;
      m_failedFiles.push_back(stored + (broken ? ": link to a missing file" : ": cannot be read"));
      KW_PKG_LOG(kWalk, "%s error:%d", name.c_str(), rc);
    } else {
      ++m_filesPacked;
    }
  }
  if (ShouldGo()) return 0;
  KW_PKG_LOG(kWalk, "error: %s/*.*", source.c_str());
  return 1;
}

bool IKWMakePkg::IsProducedVolume(uint64_t dev, uint64_t ino) const {
  for (const auto& v : m_producedVolumes)
    if (v.first == dev && v.second == ino) return true;
  return false;
}

int32_t IKWMakePkg::OpenVolume(bool logPath) {
  if (static_cast<int>(m_volumes.size()) >= kMaxVolumes) {
    // The list and the format allow no more; going on would lose files.
    NoteError("the package needs more than 256 volumes");
    m_writeFailed = true;
    return -1;
  }
  const std::string path = VolumePath(m_outputFolder, m_packageName, m_nextVolume);
  if (logPath) KW_PKG_LOG(kMakeOne, "[%s]", path.c_str());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    NoteError("cannot create " + path + ": " + std::strerror(errno));
    return -1;
  }
  uint8_t header[kVolumeHeaderSize];
  EncodeVolumeHeader(header, static_cast<uint32_t>(m_nextVolume));
  struct iovec iov = {header, sizeof(header)};
  m_volumeSum = KwVolumeChecksum();
  m_volumeSha.Reset();
  m_volumeFd = fd;
  if (!WriteVolume(&iov, 1)) {
    NoteError("cannot write " + path);
    ::close(fd);
    m_volumeFd = -1;
    return -1;
  }
  // Numbers advance only for volumes that exist, so the names have no gaps.
  ++m_nextVolume;
  struct stat st;
  if (::fstat(fd, &st) == 0) m_producedVolumes.emplace_back(st.st_dev, st.st_ino);
  m_openPath = path;
  m_volumePayload = 0;
  return 0;
}

void IKWMakePkg::CloseVolume() {
  if (m_volumeFd < 0) return;
  if (::close(m_volumeFd) != 0) {
    NoteError("cannot close " + m_openPath);
    m_writeFailed = true;
  }
  m_volumeFd = -1;
}

bool IKWMakePkg::WriteRecord(int32_t type, const uint8_t* payload, int32_t length, int32_t plain,
                             const uint8_t* sha256) {
  if (m_volumeFd < 0) return false;
  const int64_t at = static_cast<int64_t>(m_volumeSum.offset());
  uint8_t head[kRecordHeaderSize];
  PutU32(head, static_cast<uint32_t>(type));
  PutU32(head + 4, static_cast<uint32_t>(length));
  struct iovec iov[2] = {{head, sizeof(head)}, {const_cast<uint8_t*>(payload), size_t(length)}};
  if (!WriteVolume(iov, 2)) {
    NoteError("cannot write " + m_openPath + ": " + std::strerror(errno));
    m_writeFailed = true;
    return false;
  }
  if (type == kRecordBegin) {
    m_manifest.OnBegin(payload);
  } else if (type == kRecordEnd) {
    m_manifest.OnEnd();
  } else if (sha256 != nullptr) {
    m_manifest.OnData(static_cast<uint32_t>(m_nextVolume - 1), at,
                      static_cast<uint32_t>(length + kRecordHeaderSize),
                      static_cast<uint32_t>(plain), sha256);
  }
  if (type != kRecordData) return true;
  m_volumePayload += length;
  if (m_volumePayload >= m_threshold) {
    m_volumePayload = 0;
    CloseVolume();
    AddToList();
    if (m_writeFailed || OpenVolume(false) != 0) {
      m_writeFailed = true;
      return false;
    }
  }
  return true;
}

bool IKWMakePkg::WriteVolume(struct iovec* iov, int count) {
  for (int i = 0; i < count; ++i) {
    m_volumeSum.Update(iov[i].iov_base, iov[i].iov_len);
    m_volumeSha.Update(iov[i].iov_base, iov[i].iov_len);
  }
  return WriteAllV(m_volumeFd, iov, count);
}

void IKWMakePkg::AddToList() {
  KwVolumeEntry e;
  struct stat st;
  if (::stat(m_openPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<uint64_t>(st.st_size) == m_volumeSum.offset()) {
    e.path = m_openPath;
    e.size = st.st_size;
    e.checksum = m_volumeSum.Hex();
    e.sha256 = m_volumeSha.FinalHex();
    e.name = KwVolumeFileName(m_openPath);
  } else if (!KwDescribeVolume(m_openPath, &e)) {
    NoteError("cannot read back " + m_openPath);
    m_writeFailed = true;
  }
  KW_PKG_LOG(kAddToList, "[%s] [%lld] [%s]", e.name.c_str(), static_cast<long long>(e.size),
             e.checksum.c_str());
  m_manifest.OnVolume(static_cast<uint32_t>(m_volumes.size()), e.size);
  m_volumes.push_back(e);
}

int32_t IKWMakePkg::makeonefile(const std::string& sourcePath, const std::string& storedName) {
  FileDescriptor d;
  if (!MakeDescriptor(&d, storedName.c_str(), 0, 0)) {
    // Cutting it would store the content under another name.
    KW_PKG_LOG(kMakeOne, "error: name longer than %d bytes:%s", kMaxNameLength, storedName.c_str());
    NoteError("name longer than 511 bytes: " + storedName);
    return -1;
  }
  std::string why;
  if (!IsSafeStoredName(storedName.c_str(), &why)) {
    // A name the unpacker refuses (a backslash or a control byte in a file
    // name) would be lost at install time; the release engineer hears now.
    KW_PKG_LOG(kMakeOne, "error: %s:%s", why.c_str(), storedName.c_str());
    NoteError(why + ": " + storedName);
    return -1;
  }
  if (m_volumeFd < 0 && (m_writeFailed || OpenVolume(true) != 0)) return -1;
  if (!m_pipeline) m_pipeline.reset(new KwChunkPipeline(this, m_threads));
  // The size counts towards the total once the file is looked up, even when
  // it then cannot be opened; the progress display expects that.
  struct stat st;
  if (::stat(sourcePath.c_str(), &st) != 0) {
    KW_PKG_LOG(kMakeOne, "error: cannot find %s", sourcePath.c_str());
    return -1;
  }
  d.size = st.st_size;
  d.mtimeMs = FileTimeToPkgMs(UnixToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
  m_total += d.size;
  const int src = ::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (src < 0) {
    KW_PKG_LOG(kMakeOne, "error: cannot open %s", sourcePath.c_str());
    return -1;
  }
  ::posix_fadvise(src, 0, 0, POSIX_FADV_SEQUENTIAL);
  uint8_t desc[kDescriptorSize];
  EncodeDescriptor(desc, d);
  m_pipeline->AddRecord(kRecordBegin, desc, kDescriptorSize);
  KW_PKG_LOG(kMakeOne, "BEGIN:%s", storedName.c_str());
  KW_PKG_LOG(kMakeOne, "begin:%lld/%lld", 0LL, static_cast<long long>(d.size));
  int64_t read = 0;
  int32_t rc = 0;
  if (m_pieceMode == KwPieceMode::kContent) {
    read = ReadContentPieces(src, d.size);
    if (read < 0) {
      KW_PKG_LOG(kMakeOne, "error: %s ended early or could not be read", sourcePath.c_str());
      NoteError("cannot read all of " + sourcePath);
      rc = -1;
      read = 0;
    }
  }
  // Never more than the size in the descriptor: a file that grows while it
  // is packed must not make the stream disagree with its own descriptor.
  while (m_pieceMode == KwPieceMode::kFixed && read < d.size && ShouldGo()) {
    uint8_t* buf = m_pipeline->AcquireInput();
    const int64_t want = std::min<int64_t>(kChunkSize, d.size - read);
    const int64_t n = ReadFull(src, buf, want);
    if (n > 0) {
      m_pipeline->SubmitChunk(static_cast<int32_t>(n));
      read += n;
      m_bytesRead += n;
    } else {
      m_pipeline->ReleaseInput();
    }
    if (n < want) {
      KW_PKG_LOG(kMakeOne, "error: %s ended early or could not be read", sourcePath.c_str());
      NoteError("cannot read all of " + sourcePath);
      rc = -1;
      break;
    }
  }
  if (read < d.size && rc == 0) rc = -1;  // Stopped by cancel.
  m_pipeline->AddRecord(kRecordEnd, desc, kDescriptorSize);
  ::close(src);
  KW_PKG_LOG(kMakeOne, "end:%lld/%lld", static_cast<long long>(read),
             static_cast<long long>(d.size));
  KW_PKG_LOG(kMakeOne, "END:%s", storedName.c_str());
  if (m_pipeline->Failed()) return -1;
  return rc;
}

int64_t IKWMakePkg::ReadContentPieces(int src, int64_t size) {
  // Twice the largest piece: a full piece is always available to cut from
  // while the rest of the file lasts, and the bytes after a cut move to
  // the front only once per piece's worth of reading.
  const int64_t stageSize = 2 * static_cast<int64_t>(kChunkSize);
  if (!m_stage) m_stage.reset(new uint8_t[stageSize]);
  uint8_t* stage = m_stage.get();
  int64_t read = 0, emitted = 0, pos = 0, fill = 0;
  while (emitted < size && ShouldGo()) {
    if (fill - pos < kChunkSize && read < size) {
      std::memmove(stage, stage + pos, static_cast<size_t>(fill - pos));
      fill -= pos;
      pos = 0;
      const int64_t want = std::min(stageSize - fill, size - read);
      const int64_t n = ReadFull(src, stage + fill, want);
      if (n != want) return -1;
      fill += n;
      read += n;
      m_bytesRead += n;
    }
    const int32_t avail = static_cast<int32_t>(std::min<int64_t>(fill - pos, kChunkSize));
    const int32_t cut = kwcut::CutPoint(stage + pos, avail);
    uint8_t* buf = m_pipeline->AcquireInput();
    std::memcpy(buf, stage + pos, static_cast<size_t>(cut));
    m_pipeline->SubmitChunk(cut);
    pos += cut;
    emitted += cut;
  }
  return emitted;
}
