// Every archive made by other programs in the shared fixtures, through
// vunzip -t and a whole extraction: each item whose method this engine
// reads, and for which MANIFEST.tsv records the SHA-256 of its content,
// must test OK and come out with exactly that content.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "tests/tools/vunzip_process.h"

namespace velmora::tools_test {
namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = VELMORA_SOURCE_DIR "/../shared/fixtures";

std::vector<std::vector<std::string>> ReadTsv(const fs::path& file) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(ReadFile(file));
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream cells(line);
    while (std::getline(cells, field, '\t')) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

struct ExpectedItem {
  std::string name;
  std::string sha256;
  // Empty with the MS-DOS directory attribute: a folder to this engine,
  // whatever its name ends with, so there is no file to compare.
  bool folder_by_attribute = false;
};

bool FolderByAttribute(const std::string& unpacked_size, const std::string& host_attributes) {
  const size_t colon = host_attributes.find(':');
  if (colon == std::string::npos || unpacked_size != "0") return false;
  return (std::stoul(host_attributes.substr(colon + 1), nullptr, 16) & 0x10) != 0;
}

struct FixtureArchive {
  std::string password;
  std::vector<ExpectedItem> items;
  std::map<std::string, int> name_count;
};

// Archives this engine refuses by its own rules, whatever other readers do:
// an end record whose comment runs past the file, and offsets that miss
// bytes in front of the archive in a way unzip cannot mend either (items
// shifted by different amounts, a negative shift). Spanned sets, ZIP64
// and archives behind bytes their offsets do not count are read.
bool RefusedByDesign(const std::vector<std::string>& row) {
  const std::string& delta = row.at(5);
  const std::string& peers = row.size() > 7 ? row[7] : "";
  const std::string& exercises = row.size() > 9 ? row[9] : "";
  const bool unzip_mends = peers.find("unzip=0") != std::string::npos ||
                           peers.find("unzip=1 ") != std::string::npos;
  return (delta != "0" && delta != "-" && !unzip_mends) ||
         exercises.find("comment length runs past") != std::string::npos;
}

// MANIFEST.tsv writes a name that is not valid UTF-8 as "hex:" and its bytes.
std::string DecodeName(const std::string& name) {
  if (name.rfind("hex:", 0) != 0) return name;
  std::string bytes;
  for (size_t i = 4; i + 1 < name.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(name.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

bool MethodSupported(const std::string& method) {
  const int number = std::atoi(method.c_str());
  // 12 bzip2, 14 LZMA, 93 Zstandard, 95 xz come through their libraries.
  return (number >= 0 && number <= 6) || number == 8 || number == 9 || number == 12 ||
         number == 14 || number == 93 || number == 95;
}

std::map<std::string, FixtureArchive> ExpectedArchives() {
  std::set<std::string> refused;
  for (const auto& row : ReadTsv(kFixtures / "ARCHIVES.tsv")) {
    if (row.size() > 5 && RefusedByDesign(row)) refused.insert(row[0]);
  }
  std::map<std::string, FixtureArchive> archives;
  for (const auto& row : ReadTsv(kFixtures / "MANIFEST.tsv")) {
    if (row.size() < 12 || refused.count(row[0]) != 0) continue;
    FixtureArchive& archive = archives[row[0]];
    const std::string name = DecodeName(row[2]);
    archive.name_count[name]++;
    if (row[10].size() != 64 || !MethodSupported(row[3])) continue;
    // Names beyond ASCII are decoded by this engine's rules (OEM for names
    // made on MS-DOS, UTF-8 when flagged, the Unicode path field), MANIFEST
    // .tsv by Python's; the two need not agree, so those items are not
    // looked up by name. "%U00D6" stands for a character the Unicode path
    // field holds.
    if (std::any_of(name.begin(), name.end(), [](char c) { return (c & 0x80) != 0; }) ||
        name.find("%U") != std::string::npos) {
      continue;
    }
    if (row[11] != "-") archive.password = row[11];
    archive.items.push_back({name, row[10], FolderByAttribute(row[6], row[9])});
  }
  return archives;
}

// Names that land at their own path below the target: no "..", not
// absolute, nothing sha256sum would escape, within the 259 characters of a
// Windows path.
bool PlainRelativeName(const std::string& name) {
  // "-" is standard input to sha256sum.
  if (name.empty() || name == "-" || name.size() > 150 || name[0] == '/' ||
      name.find('\\') != std::string::npos ||
      name.find('\n') != std::string::npos || name.back() == '/') {
    return false;
  }
  std::istringstream parts(name);
  for (std::string part; std::getline(parts, part, '/');) {
    if (part == ".." || part == "." || part.empty()) return false;
  }
  return true;
}

// An item below a folder that the archive also holds as a file ("a/b" and
// "a/b/c"): one of the two cannot be made, whoever extracts.
bool UnderAFileItem(const std::string& name, const FixtureArchive& archive) {
  for (size_t slash = name.find('/'); slash != std::string::npos;
       slash = name.find('/', slash + 1)) {
    if (archive.name_count.count(name.substr(0, slash)) != 0) return true;
  }
  return false;
}

class FixtureSweep : public VunzipTest {
 protected:
  void SetUp() override {
    if (!fs::exists(kFixtures / "MANIFEST.tsv")) {
      GTEST_SKIP() << "no shared fixtures at " << kFixtures;
    }
    VunzipTest::SetUp();
  }

  // The names vunzip -t reported OK; refused collects those it refused as
  // needing what this engine does not do ("Cannot extract file - ...").
  std::set<std::string> TestedOk(const std::string& archive, const FixtureArchive& expected,
                                 std::set<std::string>& refused) {
    std::vector<std::string> args = {"-t"};
    if (!expected.password.empty()) args.insert(args.end(), {"-P", expected.password});
    args.push_back((kFixtures / archive).string());
    const ProcessResult r = Run(args);
    std::set<std::string> ok;
    std::istringstream lines(r.out);
    const std::string prefix = "    testing: ";
    // unzip's test mode finds an extra-field entry that runs past its
    // block, and so does ours; the item still extracts, and is compared.
    const std::string bad_extra = "  bad extra-field entry:";
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + 3) continue;
      const bool flagged = line.size() > bad_extra.size() &&
                           line.compare(line.size() - bad_extra.size(), bad_extra.size(), bad_extra) == 0;
      std::string name = line.substr(prefix.size(), line.size() - prefix.size() -
                                                        (flagged ? bad_extra.size() : 3));
      while (!name.empty() && name.back() == ' ') name.pop_back();
      (flagged ? flagged_ : ok).insert(name);
    }
    // Items that need what this engine does not do (strong encryption, a
    // method it lacks), skipped on a line of their own as unzip skips them.
    std::istringstream skipped(r.out);
    const std::string skipping = "   skipping: ";
    for (std::string line; std::getline(skipped, line);) {
      const size_t at = std::min(line.rfind("  `"), line.rfind("  unsupported compression method"));
      if (line.rfind(skipping, 0) != 0 || at == std::string::npos || at < skipping.size()) continue;
      std::string name = line.substr(skipping.size(), at - skipping.size());
      while (!name.empty() && name.back() == ' ') name.pop_back();
      refused.insert(name);
    }
    return ok;
  }

  // Items that test mode reported damaged as unzip's does.
  std::set<std::string> flagged_;

  // name -> SHA-256 of what vunzip extracted.
  std::map<std::string, std::string> ExtractedHashes(const std::string& archive,
                                                     const FixtureArchive& expected,
                                                     const std::string& out) {
    std::vector<std::string> args = {"-qq", "-o", "-d", out};
    if (!expected.password.empty()) args.insert(args.end(), {"-P", expected.password});
    args.push_back((kFixtures / archive).string());
    Run(args);
    std::string command = "cd " + Quote(out) + " && sha256sum --";
    std::map<std::string, std::string> hashes;
    for (const auto& item : expected.items) {
      if (!PlainRelativeName(item.name)) continue;
      if (!std::filesystem::is_symlink(std::filesystem::path(out) / item.name)) {
        command += " " + Quote(item.name);
        continue;
      }
      // A stored link made as a link holds the item's data as its text.
      const std::string text = Shell("cd " + Quote(out) + " && readlink -n -- " +
                                     Quote(item.name) + " | sha256sum").out;
      if (text.size() >= 64) hashes[item.name] = text.substr(0, 64);
    }
    std::istringstream lines(Shell(command).out);
    for (std::string line; std::getline(lines, line);) {
      if (line.size() > 66) hashes[line.substr(66)] = line.substr(0, 64);
    }
    return hashes;
  }
};

TEST_F(FixtureSweep, EverySupportedItemTestsOkAndExtractsWithItsContent) {
  int checked = 0, compared = 0, n = 0;
  for (const auto& [archive, expected] : ExpectedArchives()) {
    if (expected.items.empty()) continue;
    SCOPED_TRACE(archive);
    std::set<std::string> refused;
    const std::set<std::string> ok = TestedOk(archive, expected, refused);
    const std::string out = (Work() / ("x" + std::to_string(n++))).string();
    const std::map<std::string, std::string> hashes = ExtractedHashes(archive, expected, out);
    for (const auto& item : expected.items) {
      if (refused.count(item.name) != 0) continue;
      if (flagged_.count(item.name) == 0) {
        EXPECT_EQ(ok.count(item.name), 1u) << item.name << " did not test OK";
      }
      ++checked;
      if (!PlainRelativeName(item.name) || expected.name_count.at(item.name) != 1 ||
          UnderAFileItem(item.name, expected) || item.folder_by_attribute) {
        continue;
      }
      auto hash = hashes.find(item.name);
      if (hash == hashes.end()) {
        ADD_FAILURE() << item.name << " was not extracted";
        continue;
      }
      EXPECT_EQ(hash->second, item.sha256) << item.name;
      ++compared;
    }
  }
  EXPECT_GT(checked, 300);
  EXPECT_GT(compared, 300);
  std::printf("checked %d items, compared the content of %d\n", checked, compared);
}

}  // namespace
}  // namespace velmora::tools_test
