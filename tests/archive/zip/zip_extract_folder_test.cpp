// Extraction through the target folder's handle: names kept exactly in host
// folders and found case-blind on the prefix's drives, no write through a
// symbolic link, long host paths, and nothing left by a killed extraction.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>

#include "archive/base/exceptions.h"
#include "archive/zip/zip_extract.h"
#include "platform/paths.h"
#include "tests/archive/zip/extract_fixture.h"
#include "tests/archive/zip/zip_test_prefix.h"

namespace velmora {
namespace {

using extract_test::MemoryZip;
using testing::BuildZip;
using testing::Bytes;
using testing::ZipWriterEntry;

size_t EntriesIn(const std::string& host_folder) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(host_folder), {}));
}

class ExtractThroughFolderTest : public ZipScratchTest {
 protected:
  void SetUp() override {
    ZipScratchTest::SetUp();
    std::filesystem::create_directories(Host("out"));
  }
  // A host target (as vunzip hands over -d) unless a Windows base is given.
  std::unique_ptr<MemoryZip> Open(const std::vector<ZipWriterEntry>& entries,
                                  const std::string& windows_base = "") {
    auto z = std::make_unique<MemoryZip>(BuildZip(entries).bytes);
    if (windows_base.empty()) {
      z->archive.SetHostBaseDirectory(Host("out"));
    } else {
      z->archive.SetBaseDirectory(windows_base);
    }
    z->archive.ExtractOptions = eoCreateDirs | eoRestorePath;
    return z;
  }
  void ExtractAll(MemoryZip& z) {
    for (int i = 0; i < z.archive.ItemCount(); ++i) {
      UnzipItemToFile(z.archive, z.Item(i), z.Item(i).GetStoredName());
    }
  }
};

TEST_F(ExtractThroughFolderTest, HostFolderKeepsNamesThatDifferOnlyInCase) {
  auto z = Open({{.name = "inc/xt_CONNMARK.h", .data = Bytes("upper")},
                 {.name = "inc/xt_connmark.h", .data = Bytes("lower")},
                 {.name = "INC/other.h", .data = Bytes("other")}});
  ExtractAll(*z);
  EXPECT_EQ(testing::ReadFileText(Host("out/inc/xt_CONNMARK.h")), "upper");
  EXPECT_EQ(testing::ReadFileText(Host("out/inc/xt_connmark.h")), "lower");
  EXPECT_EQ(testing::ReadFileText(Host("out/INC/other.h")), "other");
}

TEST_F(ExtractThroughFolderTest, SameNameTwiceWarnsAndTheLaterItemWins) {
  auto z = Open({{.name = "d/a.txt", .data = Bytes("first")},
                 {.name = "d/b.txt", .data = Bytes("other")},
                 {.name = "d/a.txt", .data = Bytes("second")}});
  std::vector<std::string> warnings;
  z->archive.OnItemWarning = [&](TAbArchiveItem*, const std::string& message) {
    warnings.push_back(message);
  };
  ExtractAll(*z);
  EXPECT_EQ(testing::ReadFileText(Host("out/d/a.txt")), "second");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("a.txt replaces the file an earlier item"), std::string::npos)
      << warnings[0];
}

TEST_F(ExtractThroughFolderTest, PrefixDriveFindsExistingNamesWithoutRegardToCase) {
  const std::string drive_c = VelmoraPrefix() + "/drive_c";
  std::filesystem::create_directories(drive_c + "/Target/Docs");
  testing::WriteHostFile(drive_c + "/Target/Docs/README.TXT", Bytes("old"));
  auto z = Open({{.name = "docs/readme.txt", .data = Bytes("new")}}, "C:\\target");
  ExtractAll(*z);
  EXPECT_EQ(testing::ReadFileText(drive_c + "/Target/Docs/README.TXT"), "new");
  EXPECT_EQ(EntriesIn(drive_c + "/Target/Docs"), 1u);
}

TEST_F(ExtractThroughFolderTest, SymbolicLinkInTheTargetIsNeverFollowed) {
  std::filesystem::create_directories(Host("elsewhere"));
  std::filesystem::create_directory_symlink(Host("elsewhere"), Host("out/link"));
  auto z = Open({{.name = "link/x.txt", .data = Bytes("evil")},
                 {.name = "link/deeper/y.txt", .data = Bytes("evil")},
                 {.name = "fine.txt", .data = Bytes("fine")}});
  for (int i = 0; i < 2; ++i) {
    try {
      UnzipItemToFile(z->archive, z->Item(i), z->Item(i).GetStoredName());
      ADD_FAILURE() << "item " << i << " went through the link";
    } catch (const EAbException& e) {
      EXPECT_EQ(e.Message(), Host("out/link") + " is a symbolic link; not extracting through it");
    }
  }
  // The other items go on.
  UnzipItemToFile(z->archive, z->Item(2), "fine.txt");
  EXPECT_EQ(testing::ReadFileText(Host("out/fine.txt")), "fine");
  EXPECT_TRUE(std::filesystem::is_empty(Host("elsewhere")));
}

TEST_F(ExtractThroughFolderTest, CaseBlindLookupNeverFindsALinkEither) {
  const std::string drive_c = VelmoraPrefix() + "/drive_c";
  std::filesystem::create_directories(drive_c + "/t");
  std::filesystem::create_directories(Host("elsewhere"));
  std::filesystem::create_directory_symlink(Host("elsewhere"), drive_c + "/t/LINK");
  auto z = Open({{.name = "link/x.txt", .data = Bytes("evil")}}, "C:\\t");
  EXPECT_THROW(ExtractAll(*z), EAbException);
  EXPECT_TRUE(std::filesystem::is_empty(Host("elsewhere")));
}

TEST_F(ExtractThroughFolderTest, LinkAtTheFileNameIsReplacedNotWrittenThrough) {
  testing::WriteHostFile(Host("victim.txt"), Bytes("keep"));
  std::filesystem::create_symlink(Host("victim.txt"), Host("out/a.txt"));
  auto z = Open({{.name = "a.txt", .data = Bytes("new")}});
  ExtractAll(*z);
  EXPECT_EQ(testing::ReadFileText(Host("victim.txt")), "keep");
  EXPECT_FALSE(std::filesystem::is_symlink(Host("out/a.txt")));
  EXPECT_EQ(testing::ReadFileText(Host("out/a.txt")), "new");
}

TEST_F(ExtractThroughFolderTest, HostTargetTakesABackslashAsPartOfItsName) {
  std::filesystem::create_directories(Host("t/x\\..\\..\\victim"));
  auto z = std::make_unique<MemoryZip>(BuildZip({{.name = "a.txt", .data = Bytes("x")}}).bytes);
  z->archive.SetHostBaseDirectory(Host("t/x\\..\\..\\victim"));
  z->archive.ExtractOptions = eoCreateDirs | eoRestorePath;
  ExtractAll(*z);
  EXPECT_EQ(testing::ReadFileText(Host("t/x\\..\\..\\victim/a.txt")), "x");
  EXPECT_FALSE(std::filesystem::exists(Host("victim")));
}

TEST_F(ExtractThroughFolderTest, HostFolderTakesPathsAsLongAsLinuxAllows) {
  const std::string long_name(255, 'n');
  std::string deep;
  while (deep.size() < 1000) deep += std::string(99, 'd') + "/";
  auto z = Open({{.name = long_name, .data = Bytes("long")},
                 {.name = deep + "f.txt", .data = Bytes("deep")}});
  ExtractAll(*z);
  EXPECT_EQ(testing::ReadFileText(Host("out/" + long_name)), "long");
  EXPECT_EQ(testing::ReadFileText(Host("out/" + deep + "f.txt")), "deep");
}

TEST_F(ExtractThroughFolderTest, TargetFolderRemovedAndMadeAgainIsFoundAgain) {
  auto first = Open({{.name = "d/a.txt", .data = Bytes("one")}});
  ExtractAll(*first);
  std::filesystem::remove_all(Host("out"));
  std::filesystem::create_directories(Host("out"));
  auto second = Open({{.name = "d/a.txt", .data = Bytes("two")}});
  ExtractAll(*second);
  EXPECT_EQ(testing::ReadFileText(Host("out/d/a.txt")), "two");
}

TEST_F(ExtractThroughFolderTest, TmpfsTargetIsWrittenInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  std::filesystem::create_directories(Host("ram"));
  ASSERT_EQ(::mount("tmpfs", Host("ram").c_str(), "tmpfs", 0, "size=4m"), 0);
  auto z = std::make_unique<MemoryZip>(
      BuildZip({{.name = "d/a.bin", .data = std::vector<uint8_t>(100000, 7), .method = 8}}).bytes);
  z->archive.SetHostBaseDirectory(Host("ram"));
  z->archive.ExtractOptions = eoCreateDirs | eoRestorePath;
  ExtractAll(*z);
  EXPECT_EQ(std::filesystem::file_size(Host("ram/d/a.bin")), 100000u);
  EXPECT_TRUE(std::filesystem::is_empty(Host("tmp"))) << "nothing went through the temp folder";
  EXPECT_EQ(EntriesIn(Host("ram/d")), 1u);
  ::umount2(Host("ram").c_str(), MNT_DETACH);
}

TEST_F(ExtractThroughFolderTest, KillDuringALargeItemLeavesNeitherTemporaryNorPartialFile) {
  testing::WriteHostFile(Host("out/big.bin"), Bytes("old"));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    auto z = Open({{.name = "big.bin", .data = std::vector<uint8_t>(4 << 20, 3)}});
    // Halfway through the data: tell the parent, then wait for the kill.
    z->archive.OnStepProgress = [&](uint8_t progress, bool&) {
      if (progress == 50) {
        (void)!::write(ready[1], "x", 1);
        for (;;) ::pause();
      }
    };
    ExtractAll(*z);
    ::_exit(1);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(testing::ReadFileText(Host("out/big.bin")), "old");
  EXPECT_EQ(EntriesIn(Host("out")), 1u);
  EXPECT_TRUE(std::filesystem::is_empty(Host("tmp")));
}

}  // namespace
}  // namespace velmora
