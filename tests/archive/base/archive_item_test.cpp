#include "archive/base/archive_item.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "archive/base/exceptions.h"

namespace velmora {
namespace {

// Owns the items a list holds, as the archive does.
class ListWithItems {
 public:
  ~ListWithItems() {
    for (int i = list.Count() - 1; i >= 0; --i) delete list.Items(i);
    list.Clear();
  }
  TAbArchiveItem* Add(const std::string& name, TAbItemAction action = iaNone) {
    auto* item = new TAbArchiveItem;
    item->SetStoredName(name);
    item->PendingAction = action;
    list.Add(item);
    return item;
  }
  TAbArchiveList list;
};

TEST(AbArchiveItem, NewItemIsEmptyAndPendsNothing) {
  TAbArchiveItem item;
  EXPECT_EQ(item.GetPackedSize(), 0);
  EXPECT_EQ(item.GetUnpackedSize(), 0);
  EXPECT_EQ(item.GetStoredName(), "");
  EXPECT_EQ(item.PendingAction, iaNone);
  EXPECT_EQ(item.GetDosDate(), 0);
  EXPECT_EQ(item.GetDosTime(), 0);
  EXPECT_EQ(item.NextInBucket, nullptr);
}

TEST(AbArchiveList, BucketIsTheElfHashOfTheUpperCasedNameModulo1021) {
  // "ABC": ((0x41 << 4) + 0x42) << 4) + 0x43 = 0x4563 = 17763; 17763 mod 1021.
  EXPECT_EQ(AbNameBucket("abc"), 406u);
  EXPECT_EQ(AbNameBucket("ABC"), 406u);
  // Long enough for the high nibble to be folded back in.
  EXPECT_EQ(AbNameBucket("Program Files/Velmora/Client/VelmoraClientInstall.exe"), 164u);
  // Beyond ASCII the name is upper-cased as a whole first: UTF-8 letters
  // take their capitals, bytes that are not UTF-8 stay as they are.
  EXPECT_EQ(AbNameBucket("\xC3\xA9t\xC3\xA9.txt"), AbNameBucket("\xC3\x89T\xC3\x89.TXT"));
  EXPECT_EQ(AbNameBucket("\xE9t\xE9.txt"), AbNameBucket("\xE9T\xE9.TXT"));
  EXPECT_NE(AbNameBucket("\xC3\xA9"), AbNameBucket("\xC3\xA9x"));
}

TEST(AbArchiveList, FindReturnsTheLaterOfTwoEqualNames) {
  ListWithItems items;
  items.Add("Readme.txt");
  items.Add("other.txt");
  items.Add("README.TXT");
  EXPECT_EQ(items.list.Find("readme.txt"), 2);
  EXPECT_EQ(items.list.Find("other.TXT"), 1);
  EXPECT_EQ(items.list.Find("missing.txt"), -1);
}

TEST(AbArchiveList, FoldsAsciiLettersOnlyWhenComparingNames) {
  ListWithItems items;
  items.Add("\xC3\x9C.txt");  // "Ü.txt"
  // Same bucket (the index upper-cases by the ANSI rules), different name.
  EXPECT_EQ(AbNameBucket("\xC3\xBC.txt"), AbNameBucket("\xC3\x9C.txt"));
  EXPECT_EQ(items.list.Find("\xC3\xBC.txt"), -1);
  EXPECT_EQ(items.list.Find("\xC3\x9C.TXT"), 0);
}

TEST(AbArchiveList, DeleteUnlinksTheItemFromItsBucket) {
  ListWithItems items;
  items.Add("a.txt");
  items.Add("b.txt");
  items.Add("A.TXT");
  items.list.Delete(2);
  EXPECT_EQ(items.list.Count(), 2);
  EXPECT_EQ(items.list.Find("a.txt"), 0);
  items.list.Delete(0);
  EXPECT_EQ(items.list.Find("a.txt"), -1);
  EXPECT_EQ(items.list.Find("b.txt"), 0);
}

TEST(AbArchiveList, ItemsMarkedForDeletionAreNoActiveDuplicates) {
  ListWithItems items;
  items.Add("gone.txt", iaDelete);
  items.Add("kept.txt");
  EXPECT_FALSE(items.list.IsActiveDuplicate("GONE.txt"));
  EXPECT_TRUE(items.list.IsActiveDuplicate("KEPT.txt"));
  items.Add("gone.txt", iaAdd);
  EXPECT_TRUE(items.list.IsActiveDuplicate("gone.txt"));
}

TEST(AbArchiveList, ClearEmptiesListAndIndexWithoutFreeing) {
  ListWithItems items;
  std::unique_ptr<TAbArchiveItem> kept(items.Add("x.txt"));
  items.list.Clear();
  EXPECT_EQ(items.list.Count(), 0);
  EXPECT_EQ(items.list.Find("x.txt"), -1);
  EXPECT_EQ(kept->GetStoredName(), "x.txt");
}

TEST(AbArchiveList, IndexOutsideTheListRaises) {
  ListWithItems items;
  items.Add("x.txt");
  EXPECT_THROW(items.list.Items(1), EAbException);
  EXPECT_THROW(items.list.Items(-1), EAbException);
  EXPECT_THROW(items.list.Delete(5), EAbException);
}

}  // namespace
}  // namespace velmora
