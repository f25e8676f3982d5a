#include "archive/base/temp_file_stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

#include "platform/paths.h"
#include "rtl/exceptions.h"
#include "scratch_prefix.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

using TempFilesTest = ScratchPrefixTest;

std::string HostOf(const std::string& windows_path) {
  auto host = HostPath(windows_path);
  return host ? *host : std::string();
}

void ExpectTempName(const std::string& name, const std::string& host_folder) {
  const fs::path host = HostOf(name);
  EXPECT_EQ(host.parent_path(), fs::path(host_folder));
  const std::string leaf = host.filename().string();
  EXPECT_EQ(leaf.substr(0, 3), "VMS") << leaf;
  EXPECT_EQ(leaf.substr(leaf.size() - 4), ".TMP") << leaf;
  EXPECT_LE(leaf.size(), 11u) << leaf;  // VMS + at most four hex digits + .TMP
}

TEST_F(TempFilesTest, MakeTempFileNameCreatesAnEmptyPrivateFileInTheTempFolder) {
  const std::string name = MakeTempFileName("");
  ExpectTempName(name, Host("tmp"));
  struct stat st {};
  ASSERT_EQ(::stat(HostOf(name).c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(TempFilesTest, MakeTempFileNameUsesAnExistingFolderAndFallsBackOtherwise) {
  fs::create_directories(Host("work"));
  ExpectTempName(MakeTempFileName(Win("work")), Host("work"));
  ExpectTempName(MakeTempFileName(Win("no such folder")), Host("tmp"));
}

TEST_F(TempFilesTest, MakeTempFileNameNeverHandsOutANameTwice) {
  const std::string first = MakeTempFileName("");
  const std::string second = MakeTempFileName("");
  EXPECT_NE(first, second);
}

TEST_F(TempFilesTest, MakeTempFileNameGivesNothingForAnOverlongFolder) {
  const std::string deep = std::string(245, 'd');  // room for no "VMSxxxx.TMP"
  fs::create_directories(DriveC(deep));
  EXPECT_EQ(MakeTempFileName("c:\\" + deep + "\\"), "");
}

TEST_F(TempFilesTest, StreamDeletesItsFileWhenAskedTo) {
  std::string name;
  {
    TAbTempFileStream stream(true);
    name = stream.TempFileName();
    ExpectTempName(name, Host("tmp"));
    stream.WriteBuffer("hello", 5);
    stream.SetPosition(0);
    char back[5];
    stream.ReadBuffer(back, 5);
    EXPECT_EQ(std::string(back, 5), "hello");
    EXPECT_TRUE(fs::exists(HostOf(name)));
  }
  EXPECT_FALSE(fs::exists(HostOf(name)));
}

TEST_F(TempFilesTest, StreamKeepsItsFileOtherwise) {
  std::string name;
  {
    TAbTempFileStream stream(false);
    name = stream.TempFileName();
    stream.WriteBuffer("kept", 4);
  }
  std::ifstream in(HostOf(name), std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "kept");
}

TEST_F(TempFilesTest, CloseFinishesOnceAndTheDestructorDoesNothingMore) {
  auto stream = std::make_unique<TAbTempFileStream>(true);
  const std::string name = stream->TempFileName();
  stream->Close();
  EXPECT_FALSE(fs::exists(HostOf(name)));
  std::ofstream(HostOf(name)) << "someone else's now";
  stream.reset();
  EXPECT_TRUE(fs::exists(HostOf(name)));
}

TEST_F(TempFilesTest, StreamFailsWithTheOpenErrorWhenNoNameCanBeMade) {
  ::setenv("TMPDIR", Host("missing/tmp").c_str(), 1);  // restored by the fixture
  try {
    TAbTempFileStream stream(true);
    FAIL() << "no temporary folder, no stream";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message().rfind("Cannot open file ", 0), 0u) << e.Message();
  }
}

}  // namespace
}  // namespace velmora
