#include "archive/base/archive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/archive/base/scratch_prefix.h"

namespace velmora {
namespace {

// An archive whose "directory" is a list of names, and whose extraction
// records the target names (or fails for chosen items).
class ListedArchive : public TAbArchive {
 public:
  explicit ListedArchive(std::vector<std::string> names)
      : TAbArchive(nullptr, "listed.zip"), names_(std::move(names)) {}

  TAbArchiveItem* MakeItem(const std::string&) override { return nullptr; }
  void ExtractItemToFile(int index, const std::string& name) override {
    if (place_targets) {
      std::string target = name;
      if (!ConfirmTargetPath(BaseDirectory(), target, ExtractOptions, OnConfirmOverwrite)) return;
      extracted.push_back(target);
    } else {
      extracted.push_back(name);
    }
    if (failing.count(Items(index)->GetStoredName()) != 0) throw EAbZipBadCRC();
  }
  void ExtractItemToStream(int, TStream*) override {}
  void ReadItems() override {
    for (const std::string& name : names_) {
      if (name == "<damage>") throw EAbZipInvalid();
      auto* item = new TAbArchiveItem;
      item->SetStoredName(name);
      ItemList().Add(item);
    }
  }
  void WriteArchive() override { ++writes; }
  void VerifyItem(int) override {}

  std::vector<std::string> extracted;
  int writes = 0;
  std::set<std::string> failing;
  bool place_targets = false;

 private:
  std::vector<std::string> names_;
};

struct Failure {
  std::string name;
  TAbProcessType process;
  TAbErrorClass error_class;
  int32_t code;
};

void RecordFailures(TAbArchive& archive, std::vector<Failure>& failures) {
  archive.OnProcessItemFailure = [&failures](void*, TAbArchiveItem* item, TAbProcessType process,
                                             TAbErrorClass error_class, int32_t code) {
    failures.push_back({item->GetStoredName(), process, error_class, code});
  };
}

bool Matches(const std::string& stored_name, const std::string& mask) {
  TAbArchiveItem item;
  item.SetStoredName(stored_name);
  return ItemMatchesMaskList(item, mask);
}

TEST(AbArchiveMasks, StarDotStarSelectsEveryNameInAnyFolder) {
  EXPECT_TRUE(Matches("a/b/c/d/e/Readme.txt", "*.*"));
  EXPECT_TRUE(Matches("NoExtension", "*.*"));
  EXPECT_TRUE(Matches("x.exe", "*"));
}

TEST(AbArchiveMasks, ListPiecesAreTrimmedAndExclusionsApply) {
  EXPECT_TRUE(Matches("Client/Readme.txt", "*.txt; *.exe"));
  EXPECT_TRUE(Matches("Setup.EXE", "*.txt; *.exe"));
  EXPECT_FALSE(Matches("Setup.dll", "*.txt; *.exe"));
  EXPECT_TRUE(Matches("Readme.txt", "readme.*"));
  EXPECT_FALSE(Matches("a.txt", ""));
  EXPECT_FALSE(Matches("a.txt", "*.exe;"));
  // An empty piece between two ";" matches only an empty name part.
  EXPECT_TRUE(Matches("dir/", "*.exe;;*.dll"));
  EXPECT_FALSE(Matches("dir/a", "*.exe;;*.dll"));
}

TEST(AbArchiveMasks, FolderInTheMaskMustMatchTheWholeStoredFolder) {
  EXPECT_TRUE(Matches("Client/Setup.exe", "Client\\*.exe"));
  EXPECT_TRUE(Matches("client/Setup.exe", "Client/*.exe"));
  EXPECT_FALSE(Matches("Other/Client/Setup.exe", "Client\\*.exe"));
  EXPECT_FALSE(Matches("Setup.exe", "Client\\*.exe"));
  EXPECT_FALSE(Matches("Client/Readme.txt", "Client\\*.exe"));
}

TEST(AbArchiveMasks, DriveOfTheMaskIsDropped) {
  EXPECT_TRUE(Matches("a/b/c.txt", "C:\\*.*"));
  EXPECT_TRUE(Matches("x", "C:\\*.*"));
}

class AbArchiveExtract : public ::testing::Test {
 protected:
  ListedArchive archive{{"a.txt", "Readme.txt", "b.exe", "sub/c.txt"}};
  std::vector<int> progress;
  std::vector<Failure> failures;

  void SetUp() override {
    archive.Load();
    archive.OnArchiveProgress = [this](void*, uint8_t p, bool&) { progress.push_back(p); };
    RecordFailures(archive, failures);
  }
};

TEST_F(AbArchiveExtract, ReportsProgressPerItemThenOneHundredAgain) {
  archive.ExtractByMask("*.*");
  EXPECT_EQ(progress, (std::vector<int>{25, 50, 75, 100, 100}));
  EXPECT_EQ(archive.extracted,
            (std::vector<std::string>{"a.txt", "Readme.txt", "b.exe", "sub/c.txt"}));
  EXPECT_EQ(archive.State, stIdle);
}

TEST_F(AbArchiveExtract, ExclusionListLeavesMatchingItemsOut) {
  archive.ExtractByMaskExcept("*.txt; *.exe", "readme.*");
  EXPECT_EQ(archive.extracted, (std::vector<std::string>{"a.txt", "b.exe", "sub/c.txt"}));
  EXPECT_EQ(progress.size(), 5u);
}

TEST_F(AbArchiveExtract, AbortFromProgressStopsAfterThatItem) {
  archive.OnArchiveProgress = [this](void*, uint8_t p, bool& abort) {
    progress.push_back(p);
    abort = p >= 50;
  };
  try {
    archive.ExtractByMask("*.*");
    FAIL() << "no abort";
  } catch (const EAbUserAbort& e) {
    EXPECT_STREQ(e.what(), "Process aborted by user");
    EXPECT_EQ(e.ErrorCode, AbUserAbort);
  }
  EXPECT_EQ(archive.extracted, (std::vector<std::string>{"a.txt", "Readme.txt"}));
}

TEST_F(AbArchiveExtract, FailedItemIsReportedAndTheOthersGoOn) {
  archive.failing = {"Readme.txt"};
  archive.ExtractByMask("*.*");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].name, "Readme.txt");
  EXPECT_EQ(failures[0].process, poExtract);
  EXPECT_EQ(failures[0].error_class, ekArchive);
  EXPECT_EQ(failures[0].code, AbZipBadCRC);
  EXPECT_EQ(archive.extracted.size(), 4u);
  EXPECT_EQ(archive.ActiveItem, archive.Items(3));
}

TEST_F(AbArchiveExtract, DeclinedItemIsSkippedSilently) {
  archive.OnConfirmProcessItem = [](void*, TAbArchiveItem* item, TAbProcessType, bool& confirm) {
    confirm = item->GetStoredName() != "b.exe";
  };
  archive.ExtractByMask("*.*");
  EXPECT_EQ(archive.extracted, (std::vector<std::string>{"a.txt", "Readme.txt", "sub/c.txt"}));
  EXPECT_TRUE(failures.empty());
}

TEST_F(AbArchiveExtract, NewNameReplacesTheStoredName) {
  archive.ExtractItem(1, "other.txt");
  EXPECT_EQ(archive.extracted, (std::vector<std::string>{"other.txt"}));
}

TEST_F(AbArchiveExtract, InvalidArchiveRefusesExtraction) {
  archive.State = stInvalid;
  EXPECT_THROW(archive.ExtractByMask("*.*"), EAbNoArchive);
  EXPECT_THROW(archive.ExtractItem(0, ""), EAbNoArchive);
  EXPECT_TRUE(progress.empty());
}

TEST(AbArchive, EmptyArchiveExtractsNothingAndReportsNoProgress) {
  ListedArchive archive({});
  archive.Load();
  bool called = false;
  archive.OnArchiveProgress = [&called](void*, uint8_t, bool&) { called = true; };
  archive.ExtractByMask("*.*");
  EXPECT_FALSE(called);
}

TEST(AbArchive, FailedLoadStillNotifiesAndKeepsTheItemsReadSoFar) {
  ListedArchive archive({"a.txt", "<damage>", "b.txt"});
  int loads = 0;
  archive.OnLoad = [&loads](void*) { ++loads; };
  EXPECT_THROW(archive.Load(), EAbZipInvalid);
  EXPECT_EQ(loads, 1);
  EXPECT_EQ(archive.State, stIdle);
  EXPECT_EQ(archive.ItemCount(), 1);
}

TEST(AbArchive, SaveWritesOnlyChangedOrEmptyValidArchives) {
  ListedArchive loaded({"a.txt"});
  loaded.Load();
  loaded.Save();
  EXPECT_EQ(loaded.writes, 0);
  loaded.Dirty = true;
  bool saved = false;
  loaded.OnSaved = [&saved](void*) { saved = true; };
  loaded.Save();
  EXPECT_EQ(loaded.writes, 1);
  EXPECT_TRUE(saved);
  EXPECT_FALSE(loaded.Dirty);
  loaded.Dirty = true;
  loaded.OnSaveConfirm = [](void*, bool& confirm) { confirm = false; };
  loaded.Save();
  EXPECT_EQ(loaded.writes, 1);
  ListedArchive empty({});
  empty.Load();
  empty.Save();
  EXPECT_EQ(empty.writes, 1);
  ListedArchive invalid({});
  invalid.State = stInvalid;
  invalid.Save();
  EXPECT_EQ(invalid.writes, 0);
  EXPECT_EQ(invalid.State, stInvalid);
}

TEST(AbArchive, ItemProgressGoesToTheActiveItem) {
  ListedArchive archive({"a.txt", "b.txt"});
  archive.Load();
  archive.ActiveItem = archive.Items(1);
  TAbArchiveItem* seen = nullptr;
  archive.OnArchiveItemProgress = [&seen](void*, TAbArchiveItem* item, uint8_t, bool&) {
    seen = item;
  };
  bool abort = true;
  archive.OnStepProgress(40, abort);
  EXPECT_EQ(seen, archive.Items(1));
  EXPECT_FALSE(abort);
}

TEST(AbArchive, OtherArchiveKindsRefuseSpanImages) {
  ListedArchive archive({});
  std::string name;
  bool abort = false;
  EXPECT_THROW(archive.RequestSpanImage(&archive, 1, name, abort), EAbSpanningNotSupported);
}

TEST(AbArchive, InflateProgressPassesTheLowByteAndAbortsWithAbortProgress) {
  ListedArchive archive({"a.txt"});
  archive.Load();
  archive.ActiveItem = archive.Items(0);
  std::vector<int> seen;
  archive.OnArchiveItemProgress = [&seen](void*, TAbArchiveItem*, uint8_t p, bool& abort) {
    seen.push_back(p);
    abort = p == 7;
  };
  archive.InflateProgressStep(0x105);
  EXPECT_EQ(seen, (std::vector<int>{5}));
  try {
    archive.InflateProgressStep(7);
    FAIL() << "no abort";
  } catch (const EAbAbortProgress& e) {
    EXPECT_STREQ(e.what(), "Process aborted by user");
  }
}

class AbArchiveTargets : public ScratchPrefixTest {};

TEST_F(AbArchiveTargets, FlatTargetLandsInTheBaseDirectory) {
  std::filesystem::create_directories(DriveC("Out"));
  std::string name = "a/b/c.txt";
  EXPECT_TRUE(ConfirmTargetPath("C:\\Out", name, eoCreateDirs, nullptr));
  EXPECT_EQ(name, "C:\\Out\\c.txt");
  EXPECT_FALSE(std::filesystem::exists(DriveC("Out/a")));
}

TEST_F(AbArchiveTargets, RestoredPathCreatesItsFolders) {
  std::filesystem::create_directories(DriveC("Out"));
  std::string name = "a/b/c.txt";
  EXPECT_TRUE(ConfirmTargetPath("C:\\Out\\", name, eoCreateDirs | eoRestorePath, nullptr));
  EXPECT_EQ(name, "C:\\Out\\a\\b\\c.txt");
  EXPECT_TRUE(std::filesystem::is_directory(DriveC("Out/a/b")));
}

TEST_F(AbArchiveTargets, RestoredPathWithoutCreateDirsNeedsTheFolders) {
  std::filesystem::create_directories(DriveC("Out"));
  std::string name = "a/b/c.txt";
  EXPECT_THROW(ConfirmTargetPath("C:\\Out", name, eoRestorePath, nullptr), EAbNoSuchDirectory);
  EXPECT_FALSE(std::filesystem::exists(DriveC("Out/a")));
}

TEST_F(AbArchiveTargets, ExistingFileIsConfirmedUnlessTheHandlerDeclines) {
  std::filesystem::create_directories(DriveC("Out"));
  std::ofstream(DriveC("Out/c.txt")) << "old";
  std::string name = "c.txt";
  EXPECT_TRUE(ConfirmTargetPath("C:\\Out", name, eoCreateDirs, nullptr));
  EXPECT_EQ(name, "C:\\Out\\c.txt");
  std::string asked;
  name = "c.txt";
  EXPECT_FALSE(ConfirmTargetPath("C:\\Out", name, eoCreateDirs,
                                 [&asked](std::string& target, bool& confirm) {
                                   asked = target;
                                   confirm = false;
                                 }));
  EXPECT_EQ(asked, "C:\\Out\\c.txt");
  EXPECT_EQ(name, "c.txt");
  // A handler may redirect the target.
  EXPECT_TRUE(ConfirmTargetPath("C:\\Out", name, eoCreateDirs,
                                [](std::string& target, bool&) { target = "C:\\Out\\d.txt"; }));
  EXPECT_EQ(name, "C:\\Out\\d.txt");
}

TEST_F(AbArchiveTargets, NamesLeavingTheBaseFailWithTheirRestoredPath) {
  std::filesystem::create_directories(DriveC("Out"));
  for (std::string unsafe : {"../evil.txt", "a/../../evil.txt", "..", "/etc/evil.txt", "\\evil.txt",
                             "C:/evil.txt", "c:evil.txt", "a/b/.."}) {
    std::string name = unsafe;
    EXPECT_THROW(ConfirmTargetPath("C:\\Out", name, eoCreateDirs | eoRestorePath, nullptr),
                 EAbException)
        << unsafe;
  }
  std::string fine = "a/..b/c..d";
  EXPECT_TRUE(ConfirmTargetPath("C:\\Out", fine, eoCreateDirs | eoRestorePath, nullptr));
  EXPECT_FALSE(std::filesystem::exists(DriveC("evil.txt")));
}

TEST_F(AbArchiveTargets, FlatNamesMustHaveAPlainNamePart) {
  std::filesystem::create_directories(DriveC("Out"));
  for (std::string unsafe : {"dir/", "..", ".", "a/..", "a/.", ""}) {
    std::string name = unsafe;
    EXPECT_THROW(ConfirmTargetPath("C:\\Out", name, eoCreateDirs, nullptr), EAbException) << unsafe;
  }
  // Flat placement drops the folders, so ".." in them is harmless.
  std::string name = "../../x.txt";
  EXPECT_TRUE(ConfirmTargetPath("C:\\Out", name, eoCreateDirs, nullptr));
  EXPECT_EQ(name, "C:\\Out\\x.txt");
}

TEST_F(AbArchiveTargets, UnsafeItemIsReportedLikeAnyOtherFailure) {
  std::filesystem::create_directories(DriveC("Out"));
  ListedArchive archive({"../up.txt", "ok.txt"});
  archive.Load();
  archive.place_targets = true;
  archive.ExtractOptions = eoCreateDirs | eoRestorePath;
  archive.SetBaseDirectory("C:\\Out");
  std::vector<Failure> failures;
  RecordFailures(archive, failures);
  archive.ExtractByMask("*.*");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].name, "../up.txt");
  EXPECT_EQ(failures[0].error_class, ekArchive);
  EXPECT_EQ(archive.extracted, (std::vector<std::string>{"C:\\Out\\ok.txt"}));
}

TEST_F(AbArchiveTargets, BaseDirectoryLosesOneTrailingBackslashExceptAtADriveRoot) {
  ListedArchive archive({});
  archive.SetBaseDirectory("C:\\");
  EXPECT_EQ(archive.BaseDirectory(), "C:\\");
  std::filesystem::create_directories(DriveC("Temp"));
  archive.SetBaseDirectory("C:\\Temp\\");
  EXPECT_EQ(archive.BaseDirectory(), "C:\\Temp");
  EXPECT_THROW(archive.SetBaseDirectory("C:\\Missing\\"), EAbNoSuchDirectory);
  EXPECT_EQ(archive.BaseDirectory(), "C:\\Temp");
  archive.SetBaseDirectory("");
  EXPECT_EQ(archive.BaseDirectory(), "");
}

TEST_F(AbArchiveTargets, LogNamesTheArchiveAndEveryConfirmedItem) {
  ListedArchive archive({"a.txt", "b.txt"});
  archive.Load();
  archive.SetLogFile(Win("extract.log"));
  archive.SetLogging(true);
  archive.OnConfirmProcessItem = [](void*, TAbArchiveItem* item, TAbProcessType, bool& confirm) {
    confirm = item->GetStoredName() == "a.txt";
  };
  archive.ExtractByMask("*.*");
  archive.SetLogging(false);
  std::string log = ReadHostFile("extract.log");
  EXPECT_EQ(log.rfind("listed.zip logging ", 0), 0u) << log;
  EXPECT_NE(log.find("\r\na.txt extracted "), std::string::npos) << log;
  EXPECT_EQ(log.find("b.txt"), std::string::npos) << log;
  EXPECT_EQ(log.back(), '\n');
}

TEST_F(AbArchiveTargets, LogFileThatCannotBeCreatedRaises) {
  ListedArchive archive({});
  archive.SetLogFile(Win("missing/extract.log"));
  try {
    archive.SetLogging(true);
    FAIL() << "no error";
  } catch (const EAbException& e) {
    EXPECT_STREQ(e.what(), "Error creating Log File");
  }
}

}  // namespace
}  // namespace velmora
