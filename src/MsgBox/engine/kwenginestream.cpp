// Whole-volume streams: a file server that ignores byte ranges answers every
// ranged request with the whole file, so the volume is read once, in order,
// straight into its file.  The verify pass follows it as it follows the
// writer of segments; progress and speed count only what is written.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "MsgBox/engine/kwengineimpl.h"
#include "MsgBox/engine/kwengineowner.h"
#include "baseutil/ikwlog.h"
#include "baseutil/kwfilehelpers.h"
#include "tool/http/kwdownloadutil.h"

namespace {

const char* const kFunc = "CKWinstaller::streamvolume";

}  // namespace

bool CKWInstallEngine::Impl::SendsWholeFiles(const PackageEntry& e) {
  bool any = false;
  for (const std::string& address : KwAddressesOf(e)) {
    const std::string origin = KwAddressOrigin(address.c_str());
    if (mirrors_.Dropped(origin)) continue;
    if (!mirrors_.WholeFile(origin)) return false;
    any = true;
  }
  return any;
}

void CKWInstallEngine::Impl::NoteWholeFiles(const char* url) {
  const std::string origin = KwAddressOrigin(url);
  if (!mirrors_.MarkWholeFile(origin)) return;
  Note("the file server " + origin +
       " sends whole files, not byte ranges: its volumes come in one stream each");
}

bool CKWInstallEngine::Impl::StreamShouldStop(void* context) {
  auto* t = static_cast<StreamTarget*>(context);
  return t->self->end_ || !t->self->active_ || t->generation != t->self->generation_;
}

bool CKWInstallEngine::Impl::OnStreamPiece(void* context, int64_t offset, const char* data,
                                           int32_t count) {
  auto* t = static_cast<StreamTarget*>(context);
  Impl* self = t->self;
  if (StreamShouldStop(context)) return false;
  int32_t written = 0;
  while (written < count) {
    ssize_t n =
        pwrite(t->fd, data + written, static_cast<size_t>(count - written), offset + written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<int32_t>(n);
  }
  if (written != count) {
    const int error = errno;
    KW_LOG(4, kFunc, "write failed at %lld: errno %d", static_cast<long long>(offset), error);
    self->volumeWriteFailed_ = true;
    if (error == ENOSPC || error == EDQUOT) self->Fail("the disk is full", "diskfull");
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(self->onDiskMutex_);
    self->volumeOnDisk_.Add(offset, count);
  }
  self->onDiskGrew_.notify_all();
  self->control_->CompleteSegment(count);
  {
    std::lock_guard<std::mutex> lock(self->progressMutex_);
    self->doneBytes_ += count;
  }
  self->volumeWritten_ += count;
  self->writtenTotal_ += count;
  // Counts toward the speed and holds the stream while the run is paused
  // or the bandwidth cap asks.
  OnReceived(self, count);
  self->Throttle(count);
  self->Repaint();
  return !self->end_;
}

void CKWInstallEngine::Impl::StreamVolume(const PackageEntry& e, uint64_t generation) {
  CKWDownloadUtilFor util(this, &Impl::OnReceived);
  util.SetAbortCheck(&Impl::ShouldAbort, this);
  PackageEntry entry = e;
  // Addresses expire; the stream asks for a fresh one, from a server in use.
  util.GetDownloadUrl(entry);
  std::string address = entry.url;
  for (const std::string& a : KwAddressesOf(entry)) {
    if (!mirrors_.Dropped(KwAddressOrigin(a.c_str()))) {
      address = a;
      break;
    }
  }
  const std::string origin = KwAddressOrigin(address.c_str());
  AddContributor(origin, generation);
  const std::string path = installPath_ + "/" + e.name;
  int fd = OpenVolumeForWrite(path.c_str(), false);
  if (fd < 0) {
    KW_LOG(4, kFunc, "cannot open %s: errno %d", path.c_str(), errno);
    planningEnd_ = kPlanningStreamBroken;
    return;
  }
  StreamTarget target{this, fd, generation};
  int64_t served = 0;
  const int64_t r = KwFetchWholeVolume(address.c_str(), e.length, &Impl::OnStreamPiece, &target,
                                       &Impl::StreamShouldStop, &target, &served);
  const bool closed = close(fd) == 0;
  if (r == e.length && closed && !volumeWriteFailed_) {
    volumeDone_ = true;
    return;
  }
  if (r == kKwFetchWrongLength) {
    // Asking again brings the same file: the listing and the file server
    // disagree, and only their publisher can mend that.
    char why[512];
    std::snprintf(why, sizeof(why),
                  "the file server sends %s%lld bytes for %s, but the install server lists %lld",
                  served > e.length ? "at least " : "", static_cast<long long>(served), e.name,
                  static_cast<long long>(e.length));
    KW_LOG(4, kFunc, "%s", why);
    Fail(why, nullptr);
    return;
  }
  KW_LOG(4, kFunc, "stream of %s ended after %lld bytes (%lld); tried again", e.name,
         static_cast<long long>(served), static_cast<long long>(r));
  planningEnd_ = kPlanningStreamBroken;
}
