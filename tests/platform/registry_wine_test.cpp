// The machine hive when the prefix is one that Wine made: Wine's own file
// format, the other keys kept byte for byte, no write while Wine runs, and
// Wine itself reading what we wrote.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/registry.h"
#include "platform/registry_file.h"
#include "rtl/exceptions.h"
#include "tests/platform/platform_fixture.h"
#include "tests/support/process_runner.h"

namespace velmora {
namespace {

// Cut from a hive that wineboot made with Wine 8, with an escaped name, a
// link key whose hex list goes on over two lines, and a comment added.
constexpr std::string_view kWineHive =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\Machine\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Software\\\\Classes\\\\.chm] 1796787563\n"
    "#time=1dd878ee1d6e9cc\n"
    "@=\"chm.file\"\n"
    "\n"
    "[Software\\\\Classes\\\\Wow6432Node\\\\AppId] 1796787544\n"
    "#time=1dd878ed69bdd74\n"
    "#link\n"
    "\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,\\\n"
    "  00,5c,00\n"
    "\n"
    "[Software\\\\Wine\\\\Caf\\x00e9] 1796787563\n"
    "#time=1dd878ee1e13652\n"
    "; kept\n"
    "\"Dirs\"=str(7):\"a\\0b\\0\"\n"
    "\"Path\"=str(2):\"%ProgramFiles%\\\\Wine\"\n"
    "\"Size\"=dword:00000010\n";
// 2026-12-09 04:00:00 UTC in FILETIME ticks: 0x1dd8791c2d92000.
constexpr uint64_t kNow = 134412624000000000ULL;

std::string Text(const std::vector<uint8_t>& data) { return std::string(data.begin(), data.end()); }

regfile::Value Sz(std::string name, const std::string& text, DWORD type = REG_SZ) {
  regfile::Value value{std::move(name), type, {text.begin(), text.end()}};
  value.data.push_back(0);
  return value;
}

TEST(WineRegistryFile, ReadsWinesEscapesAndValueForms) {
  auto hive = regfile::WineHive::Parse(kWineHive);
  ASSERT_TRUE(hive);
  EXPECT_TRUE(hive->KeyExists("software\\wine"));
  EXPECT_TRUE(hive->KeyExists("Software\\Wine\\CAF\xC3\x89"));
  EXPECT_FALSE(hive->KeyExists("Software\\Win"));
  auto dirs = hive->QueryValue("Software\\Wine\\Caf\xC3\xA9", "dirs");
  ASSERT_TRUE(dirs);
  EXPECT_EQ(dirs->type, REG_MULTI_SZ);
  EXPECT_EQ(Text(dirs->data), std::string("a\0b\0\0", 5));
  auto path = hive->QueryValue("Software\\Wine\\Caf\xC3\xA9", "Path");
  EXPECT_EQ(path->type, REG_EXPAND_SZ);
  EXPECT_EQ(Text(path->data), std::string("%ProgramFiles%\\Wine\0", 20));
  auto link = hive->QueryValue("Software\\Classes\\Wow6432Node\\AppId", "SymbolicLinkValue");
  EXPECT_EQ(link->type, 6u);
  EXPECT_EQ(link->data.size(), 20u);
  // Untouched, it is written back as it came.
  EXPECT_EQ(hive->Format(), kWineHive);
}

TEST(WineRegistryFile, WritesANewKeyWhereAndAsWineWouldAndKeepsTheRest) {
  auto hive = regfile::WineHive::Parse(kWineHive);
  ASSERT_TRUE(hive);
  hive->AddKey("Software\\Vendor [1]", kNow);
  hive->SetValue("Software\\Vendor [1]", Sz("Title", "Tab\there \"q\" \xC3\xA9" "a"), kNow);
  hive->SetValue("Software\\Vendor [1]", Sz("", "PDF"), kNow);
  const uint8_t mode[4] = {0, 0x80, 0, 0};
  hive->SetValue("Software\\Vendor [1]", {"Mode", REG_DWORD, {mode, mode + 4}}, kNow);
  hive->SetValue("Software\\Vendor [1]", {"Blob", REG_BINARY, std::vector<uint8_t>(30, 0xAB)},
                 kNow);
  const std::string_view before_wine = kWineHive.substr(0, kWineHive.find("[Software\\\\Wine"));
  EXPECT_EQ(hive->Format(),
            std::string(before_wine) +
                "[Software\\\\Vendor \\[1\\]] 1796788800\n"
                "#time=1dd8791c2d92000\n"
                "@=\"PDF\"\n"
                "\"Blob\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,"
                "ab,\\\n  ab,ab,ab,ab,ab,ab,ab,ab\n"
                "\"Mode\"=dword:00008000\n"
                "\"Title\"=\"Tab\\there \\\"q\\\" \\x00e9a\"\n"
                "\n" +
                std::string(kWineHive.substr(before_wine.size())));
  // Setting a value in a key that has some: only its header and time change.
  hive = regfile::WineHive::Parse(kWineHive);
  hive->SetValue("SOFTWARE\\wine\\caf\xC3\xA9", Sz("path", "D:\\"), kNow);
  auto replace = [](std::string text, std::string_view old_text, std::string_view new_text) {
    return text.replace(text.find(old_text), old_text.size(), new_text);
  };
  std::string expected = replace(std::string(kWineHive), "1796787563\n#time=1dd878ee1e13652",
                                 "1796788800\n#time=1dd8791c2d92000");
  expected = replace(expected, "str(2):\"%ProgramFiles%\\\\Wine\"", "\"D:\\\\\"");
  EXPECT_EQ(hive->Format(), expected);
}

TEST(WineRegistryFile, RejectsWhatItCannotReadLineByLine) {
  const std::string header = "WINE REGISTRY Version 2\n";
  for (const std::string& text :
       {std::string("WINE REGISTRY Version 1\n"),
        header + ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n",
        header + "\"a\"=\"value before any key\"\n", header + "[Software\n",
        header + "[A] 1\njunk\n", header + "[A] 1\n\"a\"=\"unterminated\n",
        header + "[A] 1\n\"a\"=hex:1,2\n", header + "[A] 1\n\"a\"=hex:01,\\\n",
        header + "[A] 1\n\"a\"=dword:123456789\n", header + "[A] 1\n#time=xyz\n"}) {
    EXPECT_FALSE(regfile::WineHive::Parse(text)) << text;
  }
  // The header alone, even without its line end, is an empty hive.
  EXPECT_TRUE(regfile::WineHive::Parse("WINE REGISTRY Version 2"));
}

class RegistryInWinePrefixTest : public PlatformTest {
 protected:
  std::string HivePath() const { return prefix_ + "/system.reg"; }

  // Writes the printer driver's key the way the installer does.
  void WriteDriverKey() {
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const auto& [name, text] : kTexts) {
      EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                               static_cast<DWORD>(std::strlen(text) + 1)),
                ERROR_SUCCESS);
    }
    for (const auto& [name, number] : kNumbers) {
      EXPECT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
                ERROR_SUCCESS);
    }
    RegCloseKey(key);
  }

  static constexpr const char* kDriverKey =
      "Software\\ActMask PDF Virtual Printer SDK Terminal Services Edition";
  static constexpr std::pair<const char*, const char*> kTexts[] = {
      {"", "PDF"},
      {"AppFileName", "c:\\Program Files\\Velmora\\ZIVizazazErurereRireridoz.exe"},
      {"TagWndClass", ""},
      {"TagWndTitle", "TAVREL VELMORA"},
      {"ClipboardFormat", "TAVREL VELMORA Clipboard Format"},
      {"OutputFolder", "c:\\VelmoraTemp"}};
  static constexpr std::pair<const char*, DWORD> kNumbers[] = {{"TransMode", 0},
                                                               {"TagWndMsgID", 0x8000}};
};

TEST_F(RegistryInWinePrefixTest, WritesTheKeyInWinesFormatKeepingEveryOtherByte) {
  WriteHostFile(HivePath(), std::string(kWineHive));
  WriteDriverKey();
  const std::string after = ReadHostFile(HivePath());
  const size_t ours = after.find("[Software\\\\ActMask PDF");
  ASSERT_NE(ours, std::string::npos) << after;
  const size_t next = after.find("\n[", ours) + 1;
  EXPECT_EQ(after.substr(0, ours) + after.substr(next), kWineHive);
  EXPECT_NE(after.find("\"TagWndMsgID\"=dword:00008000\n\"TagWndTitle\"=\"TAVREL VELMORA\"\n"
                       "\"TransMode\"=dword:00000000\n\n",
                       ours),
            std::string::npos)
      << after;
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  char text[64];
  DWORD size = sizeof text, type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "outputfolder", nullptr, &type, reinterpret_cast<BYTE*>(text),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(text, size), std::string("c:\\VelmoraTemp\0", 15));
  RegCloseKey(key);
}

// A child that holds wineserver's lock the way a running wineserver does,
// until the test lets it go.
class FakeWineserver {
 public:
  explicit FakeWineserver(const std::string& lock_file) {
    int ready[2], release[2];
    EXPECT_EQ(::pipe(ready), 0);
    EXPECT_EQ(::pipe(release), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(release[1]);  // or the wait below never sees the end
      int fd = ::open(lock_file.c_str(), O_CREAT | O_WRONLY, 0600);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      bool locked = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0;
      char byte = locked ? 1 : 0;
      (void)!::write(ready[1], &byte, 1);
      (void)!::read(release[0], &byte, 1);
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, 1) << "could not lock " << lock_file;
    ::close(ready[0]);
    release_ = release[1];
  }
  ~FakeWineserver() { Stop(); }
  void Stop() {
    if (pid_ <= 0) return;
    ::close(release_);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
  int release_ = -1;
};

TEST_F(RegistryInWinePrefixTest, RefusesToWriteWhileWineRunsForThePrefix) {
  WriteHostFile(HivePath(), std::string(kWineHive));
  // Debian's wineserver: a folder under $TMPDIR named in the prefix.
  ScopedEnv tmpdir("TMPDIR", Scratch());
  WriteHostFile(prefix_ + "/wineserver", "wine-Ab12Cd\n");
  struct stat st {};
  ASSERT_EQ(::stat(prefix_.c_str(), &st), 0);
  char server[64];
  std::snprintf(server, sizeof server, "/server-%llx-%llx", (unsigned long long)st.st_dev,
                (unsigned long long)st.st_ino);
  const std::string folder = Scratch("wine-Ab12Cd") + server;
  std::filesystem::create_directories(folder);
  FakeWineserver wineserver(folder + "/lock");

  HKEY key = 0;
  try {
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vendor", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    ADD_FAILURE() << "wrote while Wine runs";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message().find("Wine must be closed first: it is running for the prefix " +
                                   prefix_),
              0u)
        << error.Message();
  }
  // Reading is fine; the file is as it was.
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(ReadHostFile(HivePath()), kWineHive);
  wineserver.Stop();
  WriteDriverKey();
}

// Runs a Wine command for the test's prefix, headless, and waits until its
// wineserver has ended (and so has saved the registry). Returns the exit
// status; output gets what the command printed.
int RunWine(const std::string& prefix, const std::string& command, std::string* output = nullptr,
            bool wait_for_server = true) {
  std::string line = "unset DISPLAY; timeout 300 " + command + " 2>&1";
  if (wait_for_server) line += "; status=$?; timeout 120 wineserver -w; exit $status";
  // No Mono or Gecko to fetch, and no menu entries made in the user's home.
  const testing::ProcessResult result = testing::RunShell(
      line, {.folder = "",
             .env = {{"WINEPREFIX", prefix},
                     {"WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d"},
                     {"WINEDEBUG", "-all"}}});
  if (output) output->append(result.out);
  return result.exit_code;
}

// One prefix made by wineboot for the whole check: Wine is slow to start.
TEST_F(RegistryInWinePrefixTest, WineSeesTheKeyWithAllItsValuesAndKeepsItsOwnSettings) {
  if (!testing::ProgramInstalled("wine")) {
    GTEST_SKIP() << "wine is not installed (apt-get install wine64): the key is not read back "
                    "with Wine itself";
  }
  std::string log;
  ASSERT_EQ(RunWine(prefix_, "wineboot -i", &log), 0) << log;
  const std::string booted = ReadHostFile(HivePath());
  ASSERT_TRUE(regfile::WineHive::IsWineHive(booted));
  WriteDriverKey();
  const std::string written = ReadHostFile(HivePath());
  const size_t ours = written.find("[Software\\\\ActMask PDF");
  ASSERT_NE(ours, std::string::npos);
  const size_t next = written.find("\n[", ours) + 1;
  EXPECT_TRUE(written.substr(0, ours) + written.substr(next) == booted);

  std::string query;
  ASSERT_EQ(RunWine(prefix_, std::string("wine reg query \"HKLM\\") + kDriverKey + "\"", &query),
            0)
      << query;
  for (const auto& [name, text] : kTexts) {
    const std::string shown = *name ? name : "(Default)";
    EXPECT_NE(query.find("    " + shown + "    REG_SZ    " + text + "\r\n"), std::string::npos)
        << shown << " in\n" << query;
  }
  EXPECT_NE(query.find("    TransMode    REG_DWORD    0x0\r\n"), std::string::npos) << query;
  EXPECT_NE(query.find("    TagWndMsgID    REG_DWORD    0x8000\r\n"), std::string::npos) << query;

  // Wine started with its settings and saved the hive itself on leaving:
  // the key it wrote is ours but for the time stamps.
  std::string version;
  EXPECT_EQ(RunWine(prefix_, "wine reg query \"HKLM\\Software\\Microsoft\\Windows NT\\"
                             "CurrentVersion\" /v CurrentBuild", &version), 0) << version;
  const std::string saved = ReadHostFile(HivePath());
  auto values_of = [](const std::string& hive, size_t key) {
    size_t values = hive.find('\n', hive.find("\n#time=", key) + 1) + 1;
    return hive.substr(values, hive.find("\n\n", values) - values);
  };
  const size_t saved_ours = saved.find("[Software\\\\ActMask PDF");
  ASSERT_NE(saved_ours, std::string::npos);
  EXPECT_EQ(values_of(saved, saved_ours), values_of(written, ours));

  // While a wineserver runs for the prefix nothing is written.
  ASSERT_EQ(RunWine(prefix_, "wineserver -p", nullptr, false), 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  bool refused = false;
  while (!refused && std::chrono::steady_clock::now() < deadline) {
    HKEY key = 0;
    try {
      // Opening an existing key to write writes nothing.
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
      }
      std::this_thread::yield();
    } catch (const Exception& error) {
      refused = error.Message().starts_with("Wine must be closed first");
    }
  }
  EXPECT_TRUE(refused);
  EXPECT_EQ(ReadHostFile(HivePath()), saved);
  RunWine(prefix_, "wineserver -k");
  // Debian's wineserver leaves its folder in /tmp; the prefix goes, so does it.
  std::string folder = ReadHostFile(prefix_ + "/wineserver");
  while (!folder.empty() && folder.back() == '\n') folder.pop_back();
  if (!folder.empty() && folder.find('/') == std::string::npos && folder.starts_with("wine-")) {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::temp_directory_path() / folder, ignored);
  }
}

}  // namespace
}  // namespace velmora
