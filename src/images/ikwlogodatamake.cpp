#include "images/ikwlogodatamake.h"

#include <atomic>

#include "baseutil/ikwlog.h"
#include "baseutil/ikwthreadmanager.h"
#include "images/kwimageutil.h"

struct CIKWLogoDataMake::State {
  std::vector<uint8_t> records;
  int count = 0;
  // Each slot is published with release order once its picture is whole, so
  // the page never sees a half-decoded image.
  std::vector<std::atomic<CKwImageUtil*>> images;
  std::atomic<bool> finished{false};

  State(const uint8_t* data, size_t size, int n)
      : records(data != nullptr ? data : nullptr, data != nullptr ? data + size : nullptr),
        count(n > 0 ? n : 0),
        images(static_cast<size_t>(n > 0 ? n : 0)) {
    for (auto& slot : images) slot.store(nullptr);
  }
  ~State() {
    for (auto& slot : images) delete slot.load();
  }

  int Run() {
    int decoded = 0;
    size_t offset = 0;
    for (int i = 0; i < count; ++i) {
      if (records.size() - offset < 4) break;
      const uint8_t* p = records.data() + offset;
      uint32_t n = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                   (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
      offset += 4;
      // A count past the end (or beyond what an int can hold) would make the
      // decoder read foreign memory; the walk stops there instead.
      if (n > records.size() - offset || n > 0x7FFFFFFFu) {
        KW_LOG(4, "CIKWLogoDataMake::makeimg", "record %d: count %u past the end", i, n);
        break;
      }
      if (images[static_cast<size_t>(i)].load() == nullptr) {
        auto* image = new CKwImageUtil();
        if (image->Decode(records.data() + offset, static_cast<int>(n)) == 0) {
          images[static_cast<size_t>(i)].store(image, std::memory_order_release);
          ++decoded;
        } else {
          delete image;
        }
      }
      offset += n;
    }
    finished.store(true, std::memory_order_release);
    return decoded;
  }
};

namespace {

// The job holds its own reference to the state for as long as it runs.
void MakeImageJob(void* argument) {
  auto* holder = static_cast<std::shared_ptr<CIKWLogoDataMake::State>*>(argument);
  (*holder)->Run();
  delete holder;
}

}  // namespace

CIKWLogoDataMake::CIKWLogoDataMake(const uint8_t* records, size_t size, int count)
    : state_(std::make_shared<State>(records, size, count)) {}

CIKWLogoDataMake::~CIKWLogoDataMake() = default;

void CIKWLogoDataMake::Start() {
  auto* holder = new std::shared_ptr<State>(state_);
  CKWThreadManager::addThreadFunction("CIKWLogoDataMake::makeimg", MakeImageJob, holder);
}

int CIKWLogoDataMake::Decode() {
  return state_->Run();
}

int CIKWLogoDataMake::Count() const {
  return state_->count;
}

CKwImageUtil* CIKWLogoDataMake::GetImage(int index) const {
  if (index < 0 || index >= state_->count) return nullptr;
  return state_->images[static_cast<size_t>(index)].load(std::memory_order_acquire);
}

bool CIKWLogoDataMake::Finished() const {
  return state_->finished.load(std::memory_order_acquire);
}

std::vector<uint8_t> CIKWLogoDataMake::PackRecords(
    const std::vector<std::pair<const uint8_t*, int>>& items) {
  std::vector<uint8_t> out;
  for (const auto& item : items) {
    uint32_t n = item.second > 0 ? static_cast<uint32_t>(item.second) : 0;
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(n >> shift));
    if (n > 0 && item.first != nullptr) out.insert(out.end(), item.first, item.first + n);
  }
  return out;
}
