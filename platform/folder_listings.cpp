// Case-blind lookup of a name in a host folder, with the folder's listing
// kept between calls. Without it every lookup of a name that does not exist
// yet (each file an extraction is about to write) read the whole folder, so
// writing n files into one folder cost n² entries read: 20 ms a lookup at
// 10,000 files.
//
// A listing is trusted while the folder's device, inode and modification
// time are those it was read with. A folder changes its time only once per
// clock tick of the file system, so a listing read within a tick of the
// folder's last change is "racy" (git's word for the same problem): another
// change in that tick would leave the time as it is. A racy listing is read
// again at the next look, so names that a test or another program has just
// made are always seen.
//
// Changes this process makes go into the listing as they happen
// (FolderChange), which then trusts it again: a run of creations, as an
// extraction makes, reads the folder once. What this gives up is a change
// by another program to the same folder in the very tick after one of ours;
// the cost of missing it is at most a name made in a second case, which a
// case-sensitive host allows anyway.
#include <dirent.h>
#include <sys/stat.h>

#include <ctime>
#include <mutex>
#include <unordered_map>

#include "platform/host_files.h"

namespace velmora::host {

namespace {

struct Listing {
  dev_t device = 0;
  ino_t inode = 0;
  struct timespec modified {};
  bool racy = true;
  // Folded name → the entry that answers it: the first in byte order, so
  // the choice among names differing only in case is stable.
  std::unordered_map<std::string, std::string> by_folded;
};

// Enough for the folders one operation walks through; past that the cache
// starts over rather than keeping track of age.
constexpr size_t kMaxListings = 64;

std::mutex& ListingsMutex() {
  static std::mutex mutex;
  return mutex;
}

std::unordered_map<std::string, Listing>& Listings() {
  static std::unordered_map<std::string, Listing> listings;
  return listings;
}

bool Describes(const Listing& listing, const struct stat& st) {
  return listing.device == st.st_dev && listing.inode == st.st_ino &&
         listing.modified.tv_sec == st.st_mtim.tv_sec &&
         listing.modified.tv_nsec == st.st_mtim.tv_nsec;
}

void Stamp(Listing& listing, const struct stat& st) {
  listing.device = st.st_dev;
  listing.inode = st.st_ino;
  listing.modified = st.st_mtim;
}

void AddName(Listing& listing, const std::string& name) {
  auto [it, inserted] = listing.by_folded.try_emplace(FoldCase(name), name);
  if (!inserted && name < it->second) it->second = name;
}

// Reads a folder whose stat was taken before the reading began, so a change
// during the reading leaves a listing that the next look no longer trusts.
bool ReadListing(const std::string& folder, const struct stat& st, Listing* listing) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  Stamp(*listing, st);
  listing->racy = ChangedTooRecently(st.st_mtim);
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") AddName(*listing, name);
  }
  ::closedir(dir);
  return true;
}

}  // namespace

// Whether a folder changed so recently that a further change could still
// share its time. File systems with whole-second times (no nanoseconds) get
// the two seconds of FAT; the others a margin well above a kernel tick.
bool ChangedTooRecently(const struct timespec& modified) {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  int64_t age_ns = (static_cast<int64_t>(now.tv_sec) - modified.tv_sec) * 1'000'000'000 +
                   (now.tv_nsec - modified.tv_nsec);
  int64_t margin_ns = modified.tv_nsec == 0 ? 2'000'000'000 : 50'000'000;
  return age_ns < margin_ns;
}


std::optional<std::string> FindCaseBlind(const std::string& folder, const std::string& name) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  std::string folded = FoldCase(name);
  std::lock_guard<std::mutex> lock(ListingsMutex());
  auto& listings = Listings();
  auto it = listings.find(folder);
  if (it == listings.end() || !Describes(it->second, st) || it->second.racy) {
    Listing fresh;
    if (!ReadListing(folder, st, &fresh)) return std::nullopt;
    if (listings.size() >= kMaxListings) listings.clear();
    it = listings.insert_or_assign(folder, std::move(fresh)).first;
  }
  auto found = it->second.by_folded.find(folded);
  if (found == it->second.by_folded.end()) return std::nullopt;
  return found->second;
}

void ForgetListing(const std::string& folder) {
  std::lock_guard<std::mutex> lock(ListingsMutex());
  Listings().erase(folder);
}

FolderChange::FolderChange(std::string folder) : folder_(std::move(folder)) {
  struct stat st {};
  bool readable = ::stat(folder_.c_str(), &st) == 0;
  std::lock_guard<std::mutex> lock(ListingsMutex());
  auto it = Listings().find(folder_);
  if (it == Listings().end()) return;
  current_ = readable && Describes(it->second, st);
  if (!current_) Listings().erase(it);
}

FolderChange::~FolderChange() {
  // Nothing changed by us: the listing stays as trusted as it was.
  if (!current_ || (added_.empty() && !removed_)) return;
  struct stat st {};
  bool readable = ::stat(folder_.c_str(), &st) == 0;
  std::lock_guard<std::mutex> lock(ListingsMutex());
  auto it = Listings().find(folder_);
  if (it == Listings().end()) return;
  if (!readable || forget_) {
    Listings().erase(it);
    return;
  }
  for (const auto& name : added_) AddName(it->second, name);
  Stamp(it->second, st);
  it->second.racy = false;
}

void FolderChange::Removed(const std::string& name) {
  // Only the entry that answers its folded name is kept; when that one
  // goes, a sibling differing in case may have to answer, so read again.
  removed_ = true;
  std::lock_guard<std::mutex> lock(ListingsMutex());
  auto it = Listings().find(folder_);
  if (it == Listings().end()) return;
  auto found = it->second.by_folded.find(FoldCase(name));
  if (found != it->second.by_folded.end() && found->second == name) forget_ = true;
}

}  // namespace velmora::host
