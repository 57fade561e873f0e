// Byte ranges of a release's volumes through the install server: each
// connection asks for a download address before every range (addresses
// may expire, as nginx links do) and reads the range with its own HTTP
// client.  The update and the repair of an installation fetch through it.
#pragma once

#include <memory>
#include <vector>

#include "MsgBox/engine/kwengineupdate.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwpackageentry.h"

class KwServerRangeSources : public IKwRangeSourceFactory {
 public:
  // `entries` as GetVersion listed them, in volume order.  `progress` and
  // `abort` (may be null) are handed to every connection's utility.
  KwServerRangeSources(const std::vector<PackageEntry>& entries, void* context,
                       CKWDownloadUtilFor::ProgressFn progress, CKWDownloadUtilFor::AbortFn abort)
      : m_entries(entries), m_context(context), m_progress(progress), m_abort(abort) {}
  std::unique_ptr<IKwRangeSource> Open() override;

 private:
  std::vector<PackageEntry> m_entries;
  void* m_context;
  CKWDownloadUtilFor::ProgressFn m_progress;
  CKWDownloadUtilFor::AbortFn m_abort;
};
