// Ranges through the install server; see kwengineranges.h.
#include "MsgBox/engine/kwengineranges.h"

namespace {

class ServerRangeSource : public IKwRangeSource {
 public:
  ServerRangeSource(const std::vector<PackageEntry>& entries, void* context,
                    CKWDownloadUtilFor::ProgressFn progress, CKWDownloadUtilFor::AbortFn abort)
      : m_entries(entries), m_util(context, progress) {
    if (abort != nullptr) m_util.SetAbortCheck(abort, context);
  }
  int32_t Read(uint32_t volume, int64_t offset, int32_t length, char* dest) override {
    if (volume >= m_entries.size()) return -1;
    PackageEntry& e = m_entries[volume];
    if (m_util.GetDownloadUrl(e) != 0) return -1;
    int64_t total = 0;
    return m_util.ReadRange(e.url, offset, length, dest, &total);
  }

 private:
  std::vector<PackageEntry> m_entries;
  CKWDownloadUtilFor m_util;
};

}  // namespace

std::unique_ptr<IKwRangeSource> KwServerRangeSources::Open() {
  return std::make_unique<ServerRangeSource>(m_entries, m_context, m_progress, m_abort);
}
