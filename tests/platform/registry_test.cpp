#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/registry_file.h"
#include "tests/platform/platform_fixture.h"

namespace velmora {
namespace {

constexpr const char* kVendorKey = "Software\\Vendor Test";

class RegistryTest : public PlatformTest {
 protected:
  std::string Hive() const { return ReadHostFile(prefix_ + "/system.reg"); }

  HKEY Create(const char* sub_key, REGSAM sam = KEY_ALL_ACCESS, DWORD* disposition = nullptr) {
    HKEY key = 0;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, sub_key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              sam, nullptr, &key, disposition),
              ERROR_SUCCESS);
    return key;
  }

  static LONG SetText(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
  }
  static LONG SetDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  }
  // The value's type and bytes as read back.
  static std::pair<DWORD, std::string> Query(HKEY key, const char* name) {
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    std::string data(size, '\0');
    EXPECT_EQ(RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                               &size),
              ERROR_SUCCESS);
    return {type, data};
  }
};

TEST_F(RegistryTest, WritesValuesAsRegedit4TextInWriteOrder) {
  DWORD disposition = 0;
  HKEY key = Create(kVendorKey, KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  ASSERT_EQ(SetText(key, "", "PDF"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key, "Path", "c:\\Program Files\\Say \"hi\""), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "Mode", 0x8000), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key, "Empty", ""), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_EQ(Hive(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor Test]\r\n"
            "@=\"PDF\"\r\n"
            "\"Path\"=\"c:\\\\Program Files\\\\Say \\\"hi\\\"\"\r\n"
            "\"Mode\"=dword:00008000\r\n"
            "\"Empty\"=\"\"\r\n"
            "\r\n");
}

TEST_F(RegistryTest, ReadsBackEveryValueWithItsTypeAndBytes) {
  HKEY key = Create(kVendorKey);
  ASSERT_EQ(SetText(key, nullptr, "PDF"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "TransMode", 0), ERROR_SUCCESS);
  const BYTE binary[] = {0, 1, 0xFE, '\r', '\n'};
  ASSERT_EQ(RegSetValueExA(key, "Bin", 0, REG_BINARY, binary, sizeof binary), ERROR_SUCCESS);
  // A string with a line break, or without its zero, cannot be written as
  // "text"; it must still come back exactly.
  ASSERT_EQ(RegSetValueExA(key, "Lines", 0, REG_SZ, reinterpret_cast<const BYTE*>("a\r\nb"), 4),
            ERROR_SUCCESS);
  std::vector<BYTE> long_binary(100, 0xAB);
  ASSERT_EQ(RegSetValueExA(key, "Long", 0, REG_BINARY, long_binary.data(), 100), ERROR_SUCCESS);
  RegCloseKey(key);

  HKEY reopened = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\vendor test", 0, KEY_READ, &reopened),
            ERROR_SUCCESS);
  EXPECT_EQ(Query(reopened, ""), (std::pair<DWORD, std::string>{REG_SZ, std::string("PDF\0", 4)}));
  EXPECT_EQ(Query(reopened, "transmode"),
            (std::pair<DWORD, std::string>{REG_DWORD, std::string(4, '\0')}));
  EXPECT_EQ(Query(reopened, "Bin").second, std::string("\0\1\xFE\r\n", 5));
  EXPECT_EQ(Query(reopened, "Lines"), (std::pair<DWORD, std::string>{REG_SZ, "a\r\nb"}));
  EXPECT_EQ(Query(reopened, "Long").second, std::string(100, '\xAB'));
  RegCloseKey(reopened);
}

TEST_F(RegistryTest, RewritingAValueKeepsItsPlaceAndAnotherKeyKeepsItsValues) {
  HKEY first = Create("Software\\A");
  HKEY second = Create("Software\\B");
  SetText(first, "One", "1");
  SetText(first, "Two", "2");
  SetDword(second, "X", 7);
  SetText(first, "one", "again");
  EXPECT_EQ(Hive(),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\A]\r\n\"One\"=\"again\"\r\n\"Two\"=\"2\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\B]\r\n\"X\"=dword:00000007\r\n\r\n");
  RegCloseKey(first);
  RegCloseKey(second);
}

TEST_F(RegistryTest, CreatingAnExistingKeyOpensItAndParentsExist) {
  HKEY key = Create("Software\\Deep\\Key");
  RegCloseKey(key);
  DWORD disposition = 0;
  key = Create("software\\deep\\key\\", KEY_ALL_ACCESS, &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(key);
  HKEY parent = 0;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Deep", 0, KEY_READ, &parent),
            ERROR_SUCCESS);
  RegCloseKey(parent);
}

TEST_F(RegistryTest, ReportsMissingKeysValuesAndSmallBuffers) {
  HKEY key = 0;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Nothing", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  key = Create(kVendorKey);
  SetText(key, "Name", "longer text");
  DWORD size = 4, type = 0;
  BYTE small[4];
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetText(key, "Name", "x"), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, AKeyOpenedForReadingRefusesWrites) {
  RegCloseKey(Create(kVendorKey));
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVendorKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(SetText(key, "Name", "x"), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
}

TEST_F(RegistryTest, AReadOnlyHiveRefusesWriteAccessButStillReads) {
  HKEY key = Create(kVendorKey);
  SetText(key, "Name", "kept");
  const std::string before = Hive();
  ASSERT_EQ(::chmod((prefix_ + "/system.reg").c_str(), 0444), 0);

  EXPECT_EQ(SetText(key, "Name", "changed"), ERROR_ACCESS_DENIED);
  HKEY again = 0;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kVendorKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &again, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0, KEY_READ, nullptr,
                            &again, nullptr),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVendorKey, 0, KEY_READ, &again), ERROR_SUCCESS);
  EXPECT_EQ(Query(again, "Name").second, std::string("kept\0", 5));
  EXPECT_EQ(Hive(), before);
  RegCloseKey(again);
  RegCloseKey(key);
}

TEST_F(RegistryTest, AHiveThatCannotBeParsedIsNeverOverwritten) {
  const std::string corrupt = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"Broken=dword:1\r\n";
  WriteHostFile(prefix_ + "/system.reg", corrupt);
  HKEY key = 0;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kVendorKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_BADDB);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_BADDB);
  EXPECT_EQ(Hive(), corrupt);
}

TEST_F(RegistryTest, OnlyTheMachineRootIsKept) {
  HKEY key = 0;
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kVendorKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_INVALID_HANDLE);
  EXPECT_FALSE(HostExists(prefix_ + "/system.reg"));
}

TEST_F(RegistryTest, WritersInSeveralProcessesNeverLoseEachOthersValues) {
  RegCloseKey(Create(kVendorKey));
  constexpr int kWriters = 4, kValuesEach = 25;
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      HKEY key = 0;
      int failures = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVendorKey, 0, KEY_ALL_ACCESS, &key);
      for (int i = 0; i < kValuesEach; ++i) {
        std::string name = "w" + std::to_string(w) + "v" + std::to_string(i);
        failures += SetDword(key, name.c_str(), static_cast<DWORD>(i)) != ERROR_SUCCESS;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
    writers.push_back(pid);
  }
  for (pid_t pid : writers) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto hive = regfile::ParseHive(Hive());
  ASSERT_TRUE(hive);
  ASSERT_EQ(hive->keys.size(), 1u);
  EXPECT_EQ(hive->keys[0].values.size(), static_cast<size_t>(kWriters * kValuesEach));
  // No temporary file is left beside the hive.
  for (const auto& entry : std::filesystem::directory_iterator(prefix_)) {
    EXPECT_EQ(entry.path().filename().string().find("system.reg."), std::string::npos)
        << entry.path();
  }
}

TEST(RegistryFile, ReadsWhatRegeditWritesIncludingContinuedHexAndComments) {
  auto hive = regfile::ParseHive(
      "REGEDIT4\n"
      "; exported\n"
      "[HKEY_LOCAL_MACHINE\\Software\\X]\n"
      "@=\"d\\\\e\"\n"
      "\"Multi\"=hex(7):41,00,\\\n"
      "  42,00,00\n"
      "\"N\"=dword:0000002A\n"
      "[HKEY_LOCAL_MACHINE\\Software\\x]\n"
      "\"Later\"=hex:\n");
  ASSERT_TRUE(hive);
  ASSERT_EQ(hive->keys.size(), 1u);
  const auto& values = hive->keys[0].values;
  ASSERT_EQ(values.size(), 4u);
  EXPECT_EQ(std::string(values[0].data.begin(), values[0].data.end()), std::string("d\\e\0", 4));
  EXPECT_EQ(values[1].type, 7u);
  EXPECT_EQ(values[1].data, (std::vector<uint8_t>{0x41, 0, 0x42, 0, 0}));
  EXPECT_EQ(values[2].data, (std::vector<uint8_t>{42, 0, 0, 0}));
  EXPECT_EQ(values[3].type, REG_BINARY);
  EXPECT_TRUE(values[3].data.empty());
  // And writes it so that it reads back the same.
  auto again = regfile::ParseHive(regfile::FormatHive(*hive));
  ASSERT_TRUE(again);
  EXPECT_EQ(regfile::FormatHive(*again), regfile::FormatHive(*hive));
}

TEST(RegistryFile, RejectsTextItCouldNotWriteBackExactly) {
  EXPECT_TRUE(regfile::ParseHive(""));
  for (const char* text : {"Windows Registry Editor Version 5.00\n", "REGEDIT4\n\"a\"=\"b\"\n",
                           "REGEDIT4\n[-HKEY_LOCAL_MACHINE\\X]\n",
                           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=-\n",
                           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=dword:123456789\n",
                           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=hex:1g\n",
                           "REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"b\" junk\n"}) {
    EXPECT_FALSE(regfile::ParseHive(text)) << text;
  }
}

}  // namespace
}  // namespace velmora
