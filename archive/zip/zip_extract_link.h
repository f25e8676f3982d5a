// Stored Unix symbolic links (zip -y, bsdtar, 7-Zip and Python store a
// link as an item whose Unix mode is S_IFLNK and whose data is the link's
// text). In a host folder such an item becomes a link again when the link
// cannot lead out of the target folder; otherwise it stays a file holding
// the text, as before. Nothing is ever written through a link: the folder
// walk refuses every link on the way (folder_handles.h).
#pragma once

#include <cstddef>
#include <string>

namespace velmora {

class TAbZipArchive;
class TAbZipItem;

// The item was made on Unix and its mode is a symbolic link's.
bool IsUnixLinkItem(const TAbZipItem& Item);

// Whether a link `depth` folders below the target folder, holding `text`,
// resolves inside the target folder however the names in it resolve: the
// text is relative, and its ".." parts all come first and climb no higher
// than the target folder. A ".." after a name is refused, since that name
// may be another link (a -> . makes a/.. the target folder's parent).
bool LinkStaysInside(const std::string& text, size_t depth);

// Reads the link item's text and, when it stays inside, makes the link
// `leaf` in the folder `folder_fd` (host path `host_folder`), replacing a
// file or link of that name in one step (never a folder). True when the
// link was made; false when the item is to be written as a file instead
// (the text leads out, or is longer than any path). OnLink hears of both.
// Gives the entry `name` in folder_fd (a file, or a link itself, never
// what it points to; an empty name is the folder itself) the owner and
// group the item stores, when it stores them.
void RestoreOwner(int folder_fd, const std::string& name, const TAbZipItem& Item);

bool RestoreLinkItem(TAbZipArchive& Archive, TAbZipItem& Item, int folder_fd,
                     const std::string& host_folder, const std::string& leaf, size_t depth,
                     const std::string& target);

}  // namespace velmora
