// One entry of an archive, and the archive's ordered item list with its
// name index.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

// What is to be done with an item when the archive is saved. Loaded items
// are iaNone; the others belong to the editing operations.
enum TAbItemAction : uint8_t {
  iaNone = 1,
  iaAdd = 2,
  iaDelete = 3,
  iaFreshen = 4,
  iaMove = 5,
  iaReplace = 6,
  iaAddFromStream = 7,
};

// The format-independent item. Each property goes through a virtual getter
// and setter, declared in the order formats override them: a ZIP item keeps
// these values in its central directory record instead of the fields here.
class TAbArchiveItem {
 public:
  TAbArchiveItem() = default;
  virtual ~TAbArchiveItem() = default;
  TAbArchiveItem(const TAbArchiveItem&) = delete;
  TAbArchiveItem& operator=(const TAbArchiveItem&) = delete;

  virtual int64_t GetPackedSize() const;
  virtual uint32_t GetCrc32() const;
  virtual uint32_t GetHostAttributes() const;
  virtual std::string GetStoredName() const;
  virtual bool GetEncrypted() const;
  virtual uint16_t GetDosDate() const;
  virtual uint16_t GetDosTime() const;
  virtual int64_t GetUnpackedSize() const;
  virtual void SetPackedSize(int64_t value);
  virtual void SetCrc32(uint32_t value);
  virtual void SetHostAttributes(uint32_t value);
  virtual void SetStoredName(const std::string& value);
  virtual void SetEncrypted(bool value);
  virtual void SetDosDate(uint16_t value);
  virtual void SetDosTime(uint16_t value);
  virtual void SetUnpackedSize(int64_t value);

  // A link of the list's name index, not ownership.
  TAbArchiveItem* NextInBucket = nullptr;
  TAbItemAction PendingAction = iaNone;
  // A loaded item's stored name with "\" for "/"; for an item made from a
  // disk file, that file's full name.
  std::string DiskName;
  bool Marked = false;

 protected:
  int64_t packed_size_ = 0;
  uint32_t crc32_ = 0;
  uint32_t host_attributes_ = 0;
  std::string stored_name_;
  bool encrypted_ = false;
  uint16_t dos_time_ = 0;
  uint16_t dos_date_ = 0;
  int64_t unpacked_size_ = 0;
};

// The bucket of a name in the index: the ELF hash of the name upper-cased
// by the ANSI rules, modulo the bucket count.
constexpr uint32_t kAbNameBuckets = 1021;
uint32_t AbNameBucket(const std::string& name);

// The archive's items in directory order, with a hashed index by stored
// name. The list holds the items; the archive that owns the list frees them
// (Delete frees the one it removes, Clear frees nothing).
class TAbArchiveList {
 public:
  TAbArchiveList();
  TAbArchiveList(const TAbArchiveList&) = delete;
  TAbArchiveList& operator=(const TAbArchiveList&) = delete;

  // Links the item at the head of its bucket, so that the newest of equal
  // names is found first, and appends it; returns its index.
  int Add(TAbArchiveItem* item);
  void Clear();
  void Delete(int index);
  // The index of the first item in the name's bucket with that name (ASCII
  // letters compared without regard to case), or -1.
  int Find(const std::string& stored_name) const;
  // Whether an item of that name is present and not marked for deletion.
  bool IsActiveDuplicate(const std::string& stored_name) const;
  // Raises EAbException for an index outside 0 .. Count - 1.
  TAbArchiveItem* Items(int index) const;
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  std::vector<TAbArchiveItem*> items_;
  std::array<TAbArchiveItem*, kAbNameBuckets> buckets_{};
};

}  // namespace velmora
