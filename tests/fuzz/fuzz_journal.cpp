// The volume journal over any file: it vouches only for ranges inside the
// volume, and saving what it vouched for reads back the same.
#include <string>

#include "fuzzkit.h"
#include "tool/http/kwvolumejournal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PackageEntry entry;
  entry.length = 1000000;
  std::snprintf(entry.checksum, sizeof(entry.checksum), "0123456789ABCDEF");
  const std::string volume = kwfuzz::ScratchDir() + "/V_000.tmp";
  const std::string journal = KwVolumeJournal::PathFor(volume);

  // An odd first byte puts the right header in front, so the lines behind
  // it are reached.
  std::string text;
  if (size > 0 && (data[0] & 1)) {
    text = "tarnwick journal 1 1000000 0123456789ABCDEF -\n";
    ++data;
    --size;
  }
  text.append(reinterpret_cast<const char*>(data), size);
  kwfuzz::WriteFile(journal, reinterpret_cast<const uint8_t*>(text.data()), text.size());

  KwByteRanges ranges;
  const bool loaded = KwVolumeJournal::Load(volume, entry, &ranges);
  if (!loaded) {
    KW_FUZZ_CHECK(ranges.ranges().empty());
    return 0;
  }
  for (const KwByteRanges::Range& r : ranges.ranges()) {
    KW_FUZZ_CHECK(r.first >= 0 && r.first < r.second && r.second <= entry.length);
  }

  KwByteRanges again;
  {
    KwVolumeJournal writer;
    KW_FUZZ_CHECK(writer.Begin(volume, entry));
    KW_FUZZ_CHECK(writer.Record(ranges.ranges()));
  }
  KW_FUZZ_CHECK(KwVolumeJournal::Load(volume, entry, &again) == !ranges.ranges().empty());
  KW_FUZZ_CHECK(again.ranges() == ranges.ranges());
  return 0;
}
