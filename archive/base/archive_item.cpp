#include "archive/base/archive_item.h"

#include <algorithm>

#include "archive/base/exceptions.h"
#include "platform/sysutils.h"
#include "rtl/format.h"

namespace velmora {

int64_t TAbArchiveItem::GetPackedSize() const { return packed_size_; }
uint32_t TAbArchiveItem::GetCrc32() const { return crc32_; }
uint32_t TAbArchiveItem::GetHostAttributes() const { return host_attributes_; }
std::string TAbArchiveItem::GetStoredName() const { return stored_name_; }
bool TAbArchiveItem::GetEncrypted() const { return encrypted_; }
uint16_t TAbArchiveItem::GetDosDate() const { return dos_date_; }
uint16_t TAbArchiveItem::GetDosTime() const { return dos_time_; }
int64_t TAbArchiveItem::GetUnpackedSize() const { return unpacked_size_; }
void TAbArchiveItem::SetPackedSize(int64_t value) { packed_size_ = value; }
void TAbArchiveItem::SetCrc32(uint32_t value) { crc32_ = value; }
void TAbArchiveItem::SetHostAttributes(uint32_t value) { host_attributes_ = value; }
void TAbArchiveItem::SetStoredName(const std::string& value) { stored_name_ = value; }
void TAbArchiveItem::SetEncrypted(bool value) { encrypted_ = value; }
void TAbArchiveItem::SetDosDate(uint16_t value) { dos_date_ = value; }
void TAbArchiveItem::SetDosTime(uint16_t value) { dos_time_ = value; }
void TAbArchiveItem::SetUnpackedSize(int64_t value) { unpacked_size_ = value; }

uint32_t AbNameBucket(const std::string& name) {
  // An ASCII name (nearly every one) is upper-cased byte by byte as it is
  // hashed, as AnsiUpperCase would, with no copy made.
  const bool ascii = std::all_of(name.begin(), name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  const std::string folded = ascii ? std::string() : AnsiUpperCase(name);
  uint32_t h = 0;
  for (char byte : ascii ? name : folded) {
    auto c = static_cast<unsigned char>(byte);
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    h = (h << 4) + c;
    uint32_t g = h & 0xF0000000u;
    if (g != 0) h ^= g >> 24;
    h &= ~g;
  }
  return h % kAbNameBuckets;
}

namespace {

// Only A to Z are folded: names that differ in the case of other letters
// share a bucket but are different names.
bool SameStoredName(const std::string& a, const std::string& b) { return CompareText(a, b) == 0; }

}  // namespace

TAbArchiveList::TAbArchiveList() { buckets_.fill(nullptr); }

int TAbArchiveList::Add(TAbArchiveItem* item) {
  TAbArchiveItem*& head = buckets_[AbNameBucket(item->GetStoredName())];
  item->NextInBucket = head;
  head = item;
  items_.push_back(item);
  return Count() - 1;
}

void TAbArchiveList::Clear() {
  items_.clear();
  buckets_.fill(nullptr);
}

void TAbArchiveList::Delete(int index) {
  TAbArchiveItem* item = Items(index);
  TAbArchiveItem** link = &buckets_[AbNameBucket(item->GetStoredName())];
  while (*link != nullptr && *link != item) link = &(*link)->NextInBucket;
  if (*link == item) *link = item->NextInBucket;
  items_.erase(items_.begin() + index);
  delete item;
}

int TAbArchiveList::Find(const std::string& stored_name) const {
  for (TAbArchiveItem* p = buckets_[AbNameBucket(stored_name)]; p != nullptr; p = p->NextInBucket) {
    if (SameStoredName(p->GetStoredName(), stored_name)) {
      auto at = std::find(items_.begin(), items_.end(), p);
      return at == items_.end() ? -1 : static_cast<int>(at - items_.begin());
    }
  }
  return -1;
}

bool TAbArchiveList::IsActiveDuplicate(const std::string& stored_name) const {
  for (TAbArchiveItem* p = buckets_[AbNameBucket(stored_name)]; p != nullptr; p = p->NextInBucket) {
    if (SameStoredName(p->GetStoredName(), stored_name) && p->PendingAction != iaDelete)
      return true;
  }
  return false;
}

TAbArchiveItem* TAbArchiveList::Items(int index) const {
  if (index < 0 || index >= Count()) {
    throw EAbException(Format("List index out of bounds (%d)", {index}));
  }
  return items_[static_cast<size_t>(index)];
}

}  // namespace velmora
