// vunzip beside Info-ZIP unzip and zipinfo: the same archives and the same
// command lines through both, comparing what they print and their exit
// codes. Skipped where unzip is not installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/tools/vunzip_process.h"

namespace velmora::tools_test {
namespace {

namespace fs = std::filesystem;

// Archives that exercise the columns: zip's (comment, folder, text and
// binary, extended timestamps), Python's (MS-DOS attributes, a ratio that
// went negative, a name with control characters, sizes past two million),
// one with a traditionally encrypted item, and 7-Zip's.
constexpr const char* kMakeArchives = R"PY(
import os, zipfile
with zipfile.ZipFile("py.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("grew.bin", bytes(range(40)))
    z.writestr("big.txt", b"a" * 3000000)
    z.writestr("ctl\x1bname\x07.txt", b"x")
    # A time from Info-ZIP's old Unix field, and an item comment.
    import struct
    old = zipfile.ZipInfo("old-ux.txt", (2001, 2, 3, 4, 5, 6))
    old.extra = struct.pack("<HHII", 0x5855, 8, 0, 1234567890)
    old.comment = b"the item's own comment"
    z.writestr(old, b"old")
with zipfile.ZipFile("fat.zip", "w") as z:
    for name, attributes in (("a.txt", 0x20), ("ro.exe", 0x21), ("h.txt", 0x02),
                             ("dir/", 0x10), ("s.bat", 0x04)):
        info = zipfile.ZipInfo(name, (2020, 5, 6, 7, 8, 10))
        info.create_system = 0
        info.external_attr = attributes
        z.writestr(info, b"x")
)PY";

class UnzipCompat : public VunzipTest {
 protected:
  void SetUp() override {
    VunzipTest::SetUp();
    if (!testing::ProgramInstalled("unzip") || !testing::ProgramInstalled("zip") ||
        !testing::ProgramInstalled("python3")) {
      GTEST_SKIP() << "unzip, zip or python3 is not installed";
    }
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\n";
    Write("src/d/a.txt", text);
    Write("src/b.txt", "hi\n");
    Write("src/e", "");
    Write("src/B.TXT", "upper\n");
    Write("make.py", kMakeArchives);
    ASSERT_TRUE(Make("cd src && echo 'a comment' | zip -qr -z ../a.zip ."));
    ASSERT_TRUE(Make("cd src && zip -q -P pw ../enc.zip b.txt d/a.txt"));
    // Without B.TXT, which this system's case-blind paths take for b.txt.
    ASSERT_TRUE(Make("cd src && zip -qr ../c.zip . -x B.TXT"));
    ASSERT_TRUE(Make("python3 make.py"));
  }

  // Runs unzip and vunzip with the same arguments: peer is the command
  // line's start ("unzip -Z", "UNZIP=-q unzip"), where vunzip takes
  // unzip's place.
  // With a folder, each runs in a folder of its own under that name, so
  // that what one extracts does not meet the other.
  void ExpectSameAs(const std::string& peer, const std::string& arguments,
                    const std::string& folder = std::string()) {
    const auto in = [&](const char* side) {
      return folder.empty() ? std::string() : "mkdir -p " + folder + side + " && cd " + folder + side + " && ";
    };
    const ProcessResult theirs = Shell(in("-theirs") + peer + " " + arguments);
    std::string mine = peer;
    mine.replace(mine.find("unzip"), 5, Quote(Vunzip()));
    const ProcessResult ours = Shell(in("-ours") + mine + " " + arguments);
    EXPECT_EQ(ours.out, theirs.out) << "vunzip " << arguments << "\n" << ours.err;
    EXPECT_EQ(ours.exit_code, theirs.exit_code) << "vunzip " << arguments << "\n" << ours.err;
  }
};

TEST_F(UnzipCompat, ListingsMatchColumnForColumn) {
  for (const char* zip : {"a.zip", "py.zip", "fat.zip", "enc.zip"}) {
    for (const char* mode : {"-l", "-v", "-ql", "-qql", "-qv", "-z"}) {
      ExpectSameAs("unzip", std::string(mode) + " " + zip);
    }
  }
}

TEST_F(UnzipCompat, TestModeLinesAndSummaryMatch) {
  for (const char* zip : {"a.zip", "py.zip", "fat.zip"}) {
    for (const char* mode : {"-t", "-qt", "-qqt"}) ExpectSameAs("unzip", std::string(mode) + " " + zip);
  }
  ExpectSameAs("unzip", "-P pw -t enc.zip");
}

TEST_F(UnzipCompat, ZipInfoFormatsMatch) {
  for (const char* zip : {"a.zip", "py.zip", "fat.zip", "enc.zip"}) {
    for (const char* options : {"", "-1", "-2", "-s", "-m", "-l", "-h", "-t", "-h -t", "-2ht",
                                "-T", "-z", "-mz", "-1z", "-v"}) {
      ExpectSameAs("unzip -Z", std::string(options) + " " + zip);
    }
  }
  ExpectSameAs("unzip -Z", "a.zip b.txt");
  ExpectSameAs("unzip -Z", "-t a.zip 'd/*'");
  // The program started under zipinfo's name takes zipinfo's options.
  fs::create_symlink(Vunzip(), Work() / "vzipinfo");
  const ProcessResult theirs = Shell("zipinfo -l a.zip");
  const ProcessResult ours = Shell("./vzipinfo -l a.zip");
  EXPECT_EQ(ours.out, theirs.out);
}

// zipinfo -v reckons where each local header should start from the central
// one and what old Info-ZIP tools left only in local headers: extended
// timestamps with access times, empty 16-bit owner fields, old Unix fields,
// and the external attributes' bit 15 that marks a local-only field. Also
// the names and details of the extra fields it knows, a ZIP64 end record,
// a CRLF comment, and archives from 7-Zip.
constexpr const char* kMakeVerboseArchives = R"PY(
import struct, zipfile, zlib
def block(field_id, data):
    return struct.pack("<HH", field_id, len(data)) + data
with zipfile.ZipFile("fields.zip", "w", zipfile.ZIP_DEFLATED) as z:
    z.comment = b"first line\r\nsecond line\r\n"
    entries = (
        ("ut-access.txt", 0o100644 << 16, block(0x5455, b"\x03" + bytes(8)) + block(0x7855, b"")),
        ("old-ux.txt", 0o100600 << 16, block(0x5855, bytes(8))),
        ("implied.txt", (0o100644 << 16) | 0x8000, b""),
        ("implied-owner.txt", (0o100644 << 16) | 0xC000, b""),
        ("named.txt", 0x21, block(0x7075, b"\x01" + struct.pack("<I", zlib.crc32(b"named.txt")) + b"n" * 30)
                            + block(0x4c41, struct.pack("<I", 77)) + block(0x0009, struct.pack("<I", 5))
                            + block(0x4453, struct.pack("<I", 9)) + block(0xcafe, bytes(25))),
        ("attrs.txt", 0xA7, block(0x000d, bytes(12))))
    for name, attributes, extra in entries:
        info = zipfile.ZipInfo(name, (2020, 5, 6, 7, 8, 10))
        info.create_system = 3 if attributes >> 16 else 0
        info.external_attr = attributes
        info.extra = extra
        z.writestr(info, name.encode() * 20)
    fat = zipfile.ZipInfo("fat-maybe.txt", (2020, 5, 6, 7, 8, 10))
    fat.create_system = 0
    fat.external_attr = 0x8020
    z.writestr(fat, b"x")
with zipfile.ZipFile("zero-date.zip", "w") as z:
    z.writestr(zipfile.ZipInfo("zero", (1980, 1, 1, 0, 0, 0)), b"z")
data = bytearray(open("zero-date.zip", "rb").read())
for signature, date_at in ((b"PK\x03\x04", 12), (b"PK\x01\x02", 14)):
    at = data.find(signature)
    data[at + date_at:at + date_at + 2] = b"\x00\x00"
open("zero-date.zip", "wb").write(data)
with zipfile.ZipFile("forced64.zip", "w") as z:
    with z.open("big.bin", "w", force_zip64=True) as f:
        f.write(b"small")
)PY";

TEST_F(UnzipCompat, ZipInfoVerboseMatchesOnArchivesFromZip7zipAndPython) {
  Write("verbose.py", kMakeVerboseArchives);
  ASSERT_TRUE(Make("python3 verbose.py"));
  std::vector<std::string> archives = {"a.zip", "c.zip", "enc.zip", "py.zip", "fields.zip",
                                       "zero-date.zip", "forced64.zip"};
  if (Make("command -v 7zz || command -v 7z")) {
    ASSERT_TRUE(Make("cd src && { 7zz a -tzip ../seven.zip . || 7z a -tzip ../seven.zip .; }"));
    archives.push_back("seven.zip");
  }
  // The short and long formats mark an entry with a local-only field too.
  for (const std::string& zip : archives) {
    for (const char* format : {"-v ", "-l ", "-s ", "-1 "}) {
      ExpectSameAs("unzip -Z", format + zip);
    }
  }
  ExpectSameAs("unzip -Z", "-v fields.zip 'n*' attrs.txt");
  // Data descriptors leave bytes between entries, which are counted only
  // against an entry listed right before.
  if (Make("command -v bsdtar")) {
    ASSERT_TRUE(Make("cd src && bsdtar --format zip -cf - b.txt e d/a.txt > ../streamed.zip"));
    for (const char* selection : {"", " -x e", " b.txt d/a.txt", " e d/a.txt"}) {
      ExpectSameAs("unzip -Z", std::string("-v streamed.zip") + selection);
    }
  }
}

// Listed and restored times come from the fields unzip reads: the extended
// timestamp (one with its top bit set only when the DOS time is past 2038
// too, else the DOS time), else Info-ZIP's or PKWARE's older Unix field.
TEST_F(UnzipCompat, TimesComeFromTheFieldsUnzipReads) {
  Write("times.py", R"PY(
import struct, zipfile
with zipfile.ZipFile("times.zip", "w") as z:
    for name, extra in (("ut", struct.pack("<HHBI", 0x5455, 5, 1, 1234567890)),
                        ("top-bit", struct.pack("<HHBI", 0x5455, 5, 1, 0x90000000)),
                        ("before-1970", struct.pack("<HHBI", 0x5455, 5, 1, 0xFFFFFF00)),
                        ("after-2038", struct.pack("<HHBI", 0x5455, 5, 1, 0x90000000)),
                        ("pkware", struct.pack("<HHIIHH", 0x000d, 12, 0, 1334567890, 0, 0)),
                        ("old-ux", struct.pack("<HHII", 0x5855, 8, 0, 1434567890))):
        # The DOS time past 2038 too for the one whose stamp is past 2038.
        info = zipfile.ZipInfo(name, (2046, 7, 22, 1, 2, 4) if name == "after-2038" else (2021, 1, 2, 3, 4, 6))
        info.extra = extra
        z.writestr(info, name)
)PY");
  ASSERT_TRUE(Make("python3 times.py"));
  for (const char* mode : {"-l", "-v", "-Z", "-Zl", "-ZT", "-Zv"}) {
    ExpectSameAs("unzip", std::string(mode) + " times.zip");
  }
  const std::string times = " && find . -type f -printf '%TY-%Tm-%Td %TH:%TM:%TS %p\\n' | sort -k3";
  const ProcessResult theirs = Shell("mkdir u && cd u && unzip -q ../times.zip" + times);
  const ProcessResult ours = Shell("mkdir v && cd v && " + Quote(Vunzip()) + " -q ../times.zip" + times);
  EXPECT_EQ(ours.out, theirs.out);
}

TEST_F(UnzipCompat, WildcardsClassesAndCaseMatch) {
  for (const char* masks : {"'[ab]*'", "'[!b]*'", "'[^ab]*'", "'?.txt'", "'d/*'", "'*'",
                            "'B*'", "'x*'", "'[a-c].txt' -x 'b*'", "'*' -x 'd/*' e"}) {
    ExpectSameAs("unzip", std::string("-l a.zip ") + masks);
    ExpectSameAs("unzip", std::string("-t a.zip ") + masks);
  }
  ExpectSameAs("unzip", "-C -l a.zip 'B*'");
  ExpectSameAs("unzip", "-C -t a.zip '[b]*'");
  // -W: "*" and "?" stop at "/", "**" and classes do not.
  for (const char* masks : {"'*.txt'", "'**.txt'", "'*/*'", "'?/*'", "'d*'", "'d[/]a.txt'",
                            "'**/a*' -x '*'", "'*' -x '**a*'"}) {
    ExpectSameAs("unzip", std::string("-W -l a.zip ") + masks);
  }
}

// A quoted wildcard archive name processes every matching file in the
// folder's order, with unzip's blank lines between them and its summary
// and exit code; a file without a ZIP directory is named and counted.
TEST_F(UnzipCompat, SeveralArchivesByWildcardAreEachProcessed) {
  Write("notzip.zip", "this is not a zip file\n");
  for (const char* mode : {"-l", "-v", "-t", "-qt", "-qqt", "-ql", "-Z", "-Z1", "-Zv", "-Z2"}) {
    ExpectSameAs("unzip", std::string(mode) + " '[acf]*.zip'");
    ExpectSameAs("unzip", std::string(mode) + " '[acn]*.zip'");
  }
  ExpectSameAs("unzip", "-l 'none*.zip'");
  ExpectSameAs("unzip", "-l '[ac].zip' b.txt");
  ExpectSameAs("unzip", "-l 'a.*'");
  const ProcessResult r = Run({"-qq", "-o", "-d", "out", "[ac].zip"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("2 archives were successfully processed."), std::string::npos) << r.err;
  EXPECT_EQ(Read("out/b.txt"), "hi\n");
}

// A file in which no end record is found: unzip's words and exit code 9,
// on the streams unzip uses in each mode.
TEST_F(UnzipCompat, FileWithoutZipDirectoryIsAnsweredAsUnzipDoes) {
  Write("notzip.zip", "this is not a zip file\n");
  Write("tiny", "nz");
  for (const char* mode : {"-l", "-ql", "-t", "-qqt", "-Z", "-Z1", "-Zv", "-o -d out"}) {
    for (const char* file : {"notzip.zip", "tiny"}) {
      const std::string arguments = std::string(mode) + " " + file;
      const ProcessResult theirs = Shell("unzip " + arguments);
      const ProcessResult ours = Shell(Quote(Vunzip()) + " " + arguments);
      EXPECT_EQ(ours.exit_code, 9) << arguments;
      EXPECT_EQ(ours.exit_code, theirs.exit_code) << arguments;
      // Alike but for the closing line, which names each program.
      const auto without_closing_line = [](std::string text) {
        const size_t at = text.find(":  cannot find zipfile directory in one of ");
        if (at == std::string::npos) return text;
        const size_t start = text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
        const size_t end = text.find('\n', text.find('\n', at) + 1);
        return text.erase(start, end - start + 1);
      };
      const std::string shown = without_closing_line(ours.out + ours.err);
      const std::string expected = without_closing_line(theirs.out + theirs.err);
      EXPECT_EQ(shown, expected) << arguments;
    }
  }
}

TEST_F(UnzipCompat, OptionParsingMatches) {
  // Clustered, negated and preset options. (After the archive name unzip
  // takes only -x and -d and reads the rest as names; vunzip takes them
  // all there, as its manual says.)
  ExpectSameAs("unzip", "-lq a.zip b.txt");
  ExpectSameAs("unzip", "-l a.zip b.txt -x e -d somewhere");
  EXPECT_EQ(Run({"a.zip", "-l", "-q", "b.txt"}).out, Shell("unzip -lq a.zip b.txt").out);
  ExpectSameAs("UNZIP=-q unzip", "-l a.zip");
  ExpectSameAs("UNZIP=-q unzip", "-l -q- a.zip");
  ExpectSameAs("UNZIP=-l unzip", "-qq a.zip");
  ExpectSameAs("ZIPINFO=-1 unzip", "-Z a.zip");
  // Accepted and inert options list as without them.
  for (const char* option : {"-a", "-aa", "-b", "-B", "-X", "-K", "-D", "-DD", "-W", "-:", "-^",
                             "-U", "-V", "-M"}) {
    ExpectSameAs("unzip", std::string("-l ") + option + " a.zip");
  }
  for (const char* option : {"-O", "-I"}) {
    EXPECT_EQ(Run({option, "CP866", "-qql", "a.zip", "b.txt"}).exit_code, 0) << option;
  }
  // An -x mask that leaves nothing out is a caution; with -x, test mode
  // counts the files tested and zipinfo lists without its header.
  for (const char* line : {"-t a.zip -x nothing", "-t a.zip -x b.txt", "-Z a.zip -x b.txt",
                           "-l a.zip -x nothing"}) {
    ExpectSameAs("unzip", line);
  }
  const ProcessResult inert = Run({"-:", "-l", "a.zip"});
  EXPECT_NE(inert.err.find("always refused"), std::string::npos) << inert.err;
}

TEST_F(UnzipCompat, ActionLettersGivenTogetherActAsUnzipRanksThem) {
  // -z over -p/-c over -t over -l/-v; -l twice or with -v lists verbosely.
  for (const char* letters : {"-lv", "-vl", "-ll", "-tv", "-lt", "-lp", "-lc", "-lz", "-zt", "-zp",
                              "-cp", "-zq"}) {
    ExpectSameAs("unzip", std::string(letters) + " a.zip b.txt");
  }
  for (const char* refused : {"-tp", "-ct", "-fn", "-tu", "-cu"}) {
    EXPECT_EQ(Run({refused, "a.zip"}).exit_code, 10) << refused;
  }
}

TEST_F(UnzipCompat, ExtractionLinesMatch) {
  ExpectSameAs("unzip", "-d 'out dir' ../c.zip", "x");
  // Both then find every file there: nobody answers, so nothing is replaced.
  ExpectSameAs("unzip", "-d 'out dir' ../c.zip b.txt", "x");
  ExpectSameAs("unzip", "-o -d 'out dir' ../c.zip b.txt 'd/*'", "x");
  ExpectSameAs("unzip", "-d 'out dir' ../c.zip nothing", "x");
  // The -d folder is made though nothing matched; not by -f, which makes nothing.
  ExpectSameAs("unzip", "-d made ../c.zip nothing", "y");
  ExpectSameAs("unzip", "-f -d fresh ../c.zip", "y");
  EXPECT_TRUE(std::filesystem::is_directory(Work() / "y-ours/made"));
  EXPECT_FALSE(std::filesystem::exists(Work() / "y-ours/fresh"));
  ExpectSameAs("unzip", "-c c.zip b.txt");
  ExpectSameAs("unzip", "-p c.zip 'd/*'");
  // Each method's own word: "bunzipping" for bzip2.
  ASSERT_TRUE(Make("cd src && zip -q -Z bzip2 ../bz.zip d/a.txt"));
  ExpectSameAs("unzip", "-c bz.zip");
  ExpectSameAs("unzip", "-d out ../bz.zip", "bz");
  // Names stored with "./" parts (as bsdtar stores them) are shown as written.
  Write("dots.py", "import zipfile\nwith zipfile.ZipFile('dots.zip', 'w') as z:\n"
                   "    z.writestr('./', b'')\n    z.writestr('./d/', b'')\n"
                   "    z.writestr('./d/./f.txt', b'f')\n");
  ASSERT_TRUE(Make("python3 dots.py"));
  ExpectSameAs("unzip", "-d out ../dots.zip", "x");
  // A wildcard character quoted with "\\" makes no wildcard archive name:
  // no "No zipfiles found." behind unzip's line.
  const std::string quoted = Shell(Quote(Vunzip()) + " -l 'no\\*such.zip'").err;
  EXPECT_EQ("v" + Shell("unzip -l 'no\\*such.zip'").err, quoted);
}

TEST_F(UnzipCompat, FreshenAndUpdateMatch) {
  // Made by each tool into its own folder: the older file is replaced, the
  // newer kept, a missing one made only by -u.
  for (const char* tool : {"unzip", "vunzip"}) {
    const std::string program = std::string(tool) == "unzip" ? "unzip" : Quote(Vunzip());
    const std::string dir = std::string("f-") + tool;
    Write(dir + "/b.txt", "old");
    Write(dir + "/e", "newer");
    ASSERT_TRUE(Make("touch -d '2001-01-01' " + dir + "/b.txt && touch -d '2099-01-01' " + dir + "/e"));
    EXPECT_EQ(Shell(program + " -fo -d " + dir + " c.zip").exit_code, 0) << tool;
    EXPECT_EQ(Read(dir + "/b.txt"), "hi\n") << tool;
    EXPECT_EQ(Read(dir + "/e"), "newer") << tool;
    EXPECT_FALSE(fs::exists(Work() / dir / "d")) << tool;
    EXPECT_EQ(Shell(program + " -uo -d " + dir + " c.zip").exit_code, 0) << tool;
    EXPECT_TRUE(fs::exists(Work() / dir / "d/a.txt")) << tool;
    EXPECT_EQ(Read(dir + "/e"), "newer") << tool;
  }
}

TEST_F(UnzipCompat, StampsTheArchiveWithItsNewestTime) {
  // -T only stamps: nothing is extracted, and -d is ignored with a caution.
  ASSERT_TRUE(Make("cp c.zip b.zip && touch -d '2001-01-01' c.zip b.zip"));
  ASSERT_TRUE(Make("unzip -qq -T -d t1 c.zip"));
  const ProcessResult stamped = Run({"-qq", "-T", "-d", "t2", "b.zip"});
  EXPECT_EQ(stamped.exit_code, 0);
  EXPECT_NE(stamped.err.find("caution:  not extracting; -d ignored"), std::string::npos);
  EXPECT_FALSE(fs::exists(Work() / "t2"));
  EXPECT_EQ(fs::last_write_time(Work() / "c.zip"), fs::last_write_time(Work() / "b.zip"));
  // With names, the newest of those items; -T ranks above -l and -t.
  ExpectSameAs("unzip", "-T c.zip b.txt");
  const auto seconds = [](fs::file_time_type t) {
    return std::chrono::floor<std::chrono::seconds>(t.time_since_epoch());
  };
  EXPECT_EQ(seconds(fs::last_write_time(Work() / "c.zip")),
            seconds(fs::last_write_time(Work() / "src/b.txt")));
  ExpectSameAs("unzip", "-lT c.zip");
  ExpectSameAs("unzip", "-tT c.zip");
}

// Items that cannot be read are skipped with unzip's line, counted, and
// answered with its exit codes: a method the engine lacks (81), and an
// encrypted item with no password given and no terminal to ask on (5).
TEST_F(UnzipCompat, SkippedItemsAreReportedAsUnzipDoes) {
  Write("tokenize.py", R"PY(
import zipfile
with zipfile.ZipFile("tokenized.zip", "w") as z:
    z.writestr("first.tok", b"tokenized data")
    z.writestr("plain.txt", b"plain")
with zipfile.ZipFile("only.zip", "w") as z:
    z.writestr("only.tok", b"tokenized data")
for name in ("tokenized.zip", "only.zip"):
    data = bytearray(open(name, "rb").read())
    # The method (7, tokenizing) in the first item's local and central header.
    data[8] = 7
    central = data.find(b"PK\x01\x02")
    data[central + 10] = 7
    open(name, "wb").write(data)
)PY");
  ASSERT_TRUE(Make("python3 tokenize.py"));
  for (const char* arguments : {"-t tokenized.zip", "-t only.zip", "-qt tokenized.zip",
                                "-t enc.zip", "-t enc.zip b.txt"}) {
    ExpectSameAs("unzip", arguments);
  }
  ExpectSameAs("unzip", "../enc.zip", "pw");
  // PPMd (98) is listed by name, as unzip lists it, and skipped in tests.
  std::string ppmd = Read("only.zip");
  ppmd[8] = 98;
  ppmd[ppmd.find("PK\x01\x02") + 10] = 98;
  Write("ppmd.zip", ppmd);
  ExpectSameAs("unzip", "-v ppmd.zip");
  EXPECT_EQ(Run({"-t", "enc.zip"}).exit_code, 5);
  EXPECT_EQ(Run({"-t", "only.zip"}).exit_code, 81);
  // Piped too: the password line even under -p, the method's only with -c.
  for (const char* arguments : {"-p enc.zip", "-c enc.zip", "-p tokenized.zip", "-c only.zip"}) {
    ExpectSameAs("unzip", arguments);
    const ProcessResult theirs = Shell(std::string("unzip ") + arguments + " </dev/null");
    EXPECT_EQ(Shell(Quote(Vunzip()) + " " + arguments + " </dev/null").err, theirs.err) << arguments;
  }
  // With no password to be had, unzip skips an encrypted item before it
  // looks at a file in the way or at -f, -u or -n: exit code 5 whatever
  // they would have decided, and the file left as it was.
  for (const std::string options : {"", "-f", "-u", "-n"}) {
    const std::string folder = "in-way" + options;
    for (const char* side : {"-theirs", "-ours"}) Write(folder + side + "/b.txt", "old\n");
    ExpectSameAs("unzip", options + " ../enc.zip", folder);
    EXPECT_EQ(Read(folder + "-ours/b.txt"), "old\n") << options;
  }
}

// Bytes between the last item and the directory, the end record not told:
// unzip's "extra bytes ... within zipfile" warning and exit code 1 in the
// listings, the items listed all the same.
TEST_F(UnzipCompat, DirectoryBehindUncountedBytesIsAWarning) {
  std::string bytes = Read("c.zip");
  const size_t directory = bytes.find("PK\x01\x02");
  ASSERT_NE(directory, std::string::npos);
  bytes.insert(directory, 16, '\0');
  Write("moved.zip", bytes);
  for (const char* mode : {"-l", "-v", "-Z"}) ExpectSameAs("unzip", std::string(mode) + " moved.zip");
  const ProcessResult r = Run({"-l", "moved.zip"});
  EXPECT_NE(r.err.find("16 extra bytes at beginning or within zipfile"), std::string::npos) << r.err;
}

// A local extra-field block whose entry claims 88 bytes where 24 are left:
// unzip's test mode says so on the item's line and exits 2; the other
// items are still tested.
TEST_F(UnzipCompat, BadExtraFieldEntryIsReportedAsUnzipDoes) {
  Write("bad.py", R"PY(
import struct, zipfile
info = zipfile.ZipInfo("x.txt", (2020, 1, 1, 0, 0, 0))
info.extra = struct.pack("<HH", 0x5455, 88) + bytes(24)
with zipfile.ZipFile("badef.zip", "w") as z:
    z.writestr(info, b"hello")
    z.writestr("ok.txt", b"fine")
)PY");
  ASSERT_TRUE(Make("python3 bad.py"));
  ExpectSameAs("unzip", "-t badef.zip");
  ExpectSameAs("unzip", "-l badef.zip");
}

// A compressed size of 0xFFFFFFFF over one byte once overflowed the listing's
// float-to-int ratio (unzip's own arithmetic wraps to "200%"). Such an entry
// runs into the central directory, so it is now refused as overlapping data
// before any listing (unzip's exit code for it, 12); the ratio's clamping is
// covered by the command-line fuzz target.
TEST_F(UnzipCompat, HugeCompressedSizeIsRefusedAsOverlappingData) {
  std::string bytes = Read("fat.zip");
  for (size_t at = bytes.find("PK\x01\x02"); at != std::string::npos;
       at = bytes.find("PK\x01\x02", at + 4)) {
    bytes.replace(at + 20, 4, "\xFF\xFF\xFF\xFF");
  }
  Write("huge.zip", bytes);
  for (const char* mode : {"-v", "-Zm", "-t"}) {
    const ProcessResult r = Run({mode, "huge.zip"});
    EXPECT_EQ(r.exit_code, 12) << mode << r.err;
  }
}

// The same name twice: with -o the later item replaces the earlier file, as
// unzip's does, with its lines and exit code (0); vunzip also says so.
TEST_F(UnzipCompat, RepeatedNameReplacesTheEarlierFileWithAWarning) {
  Write("dup.py", R"PY(
import warnings, zipfile
warnings.simplefilter("ignore")
with zipfile.ZipFile("dup.zip", "w") as z:
    z.writestr("a.txt", b"first")
    z.writestr("a.txt", b"second")
)PY");
  ASSERT_TRUE(Make("python3 dup.py"));
  ExpectSameAs("unzip", "-o ../dup.zip", "dup");
  EXPECT_EQ(Read("dup-ours/a.txt"), "second");
  const ProcessResult again = Run({"-o", "-d", "again", "dup.zip"});
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_NE(again.err.find("warning:  again/a.txt replaces the file extracted from an earlier "
                           "entry of the same name"), std::string::npos) << again.err;
}

// Stored Unix modes, folders and files alike, come back exactly whatever
// the umask, less setuid; a folder that shuts its owner out still gets its
// files first. A folder that was there before keeps its own mode.
TEST_F(UnzipCompat, StoredModesAreRestoredAsUnzipRestoresThem) {
  ASSERT_TRUE(Make("mkdir -p m/open/deep m/shut m/wide && echo a >m/open/f600 && "
                   "echo b >m/open/f755 && echo c >m/open/suid && echo d >m/shut/in && "
                   "chmod 600 m/open/f600 && chmod 755 m/open/f755 && chmod 4755 m/open/suid && "
                   "chmod 750 m/open/deep && chmod 700 m/open && chmod 777 m/wide && "
                   "chmod 500 m/shut && cd m && zip -qr ../modes.zip open shut wide"));
  const std::string modes = " && find . -printf '%m %p\\n' | sort -k2";
  for (const char* side : {"unzip", "vunzip"}) {
    const std::string tool = side == std::string("unzip") ? "unzip" : Quote(Vunzip());
    const ProcessResult r = Shell(std::string("mkdir ") + side + " && cd " + side +
                                  " && umask 077 && " + tool + " -q ../modes.zip" + modes);
    EXPECT_EQ(r.exit_code, 0) << side << r.err;
    Write(std::string(side) + ".modes", r.out);
  }
  EXPECT_EQ(Read("vunzip.modes"), Read("unzip.modes"));
  EXPECT_NE(Read("vunzip.modes").find("500 ./shut\n"), std::string::npos) << Read("vunzip.modes");
  ASSERT_TRUE(Make("mkdir -p pre/wide && chmod 755 pre/wide"));
  EXPECT_EQ(Run({"-q", "-d", "pre", "modes.zip"}).exit_code, 0);
  EXPECT_EQ(fs::status(Work() / "pre/wide").permissions(), fs::perms(0755));
}

TEST_F(UnzipCompat, IncorrectPasswordSkipsTheItemAsUnzipDoes) {
  // All items refused: 82; some: a warning, the others done.
  ASSERT_TRUE(Make("cp enc.zip mixed.zip && cd src && zip -q ../mixed.zip e"));
  for (const char* archive : {"enc.zip", "mixed.zip"}) {
    const std::string a = archive;
    ExpectSameAs("unzip", "-t -P wrong " + a);
    ExpectSameAs("unzip", "-qt -P wrong " + a);
    ExpectSameAs("unzip", "-c -P wrong " + a);
    ExpectSameAs("unzip", "-P wrong -d out ../" + a, "x" + a);
  }
  EXPECT_FALSE(fs::exists(Work() / "xmixed.zip-ours/out/b.txt"));
  EXPECT_TRUE(fs::exists(Work() / "xmixed.zip-ours/out/e"));
}

TEST_F(UnzipCompat, FolderTimesAreRestoredAfterTheFilesInside) {
  ASSERT_TRUE(Make("mkdir -p t/a/b && echo x >t/a/b/f && echo y >t/a/g && "
                   "touch -d '2001-02-03 04:05:06' t/a/b t/a && cd t && zip -qr ../times.zip a"));
  const std::string times = " && find . -mindepth 1 -type d -printf '%TY-%Tm-%Td %TT %p\\n' | sort -k3";
  for (const char* side : {"unzip", "vunzip"}) {
    const std::string tool = side == std::string("unzip") ? "unzip" : Quote(Vunzip());
    const ProcessResult r = Shell(std::string("mkdir ") + side + "-t && cd " + side + "-t && " +
                                  tool + " -q ../times.zip" + times);
    EXPECT_EQ(r.exit_code, 0) << side << r.err;
    Write(std::string(side) + ".times", r.out);
  }
  EXPECT_EQ(Read("vunzip.times"), Read("unzip.times"));
  EXPECT_NE(Read("vunzip.times").find("2001-02-03 04:05:06.0000000000 ./a/b\n"), std::string::npos)
      << Read("vunzip.times");
}

// An archive without entries is a warning (exit 1) in every mode but -z;
// a name is looked for also with .zip and .ZIP behind it, dot or not, and
// a name found nowhere is answered in unzip's words and streams.
TEST_F(UnzipCompat, EmptyAndMissingArchivesAreAnsweredAsUnzipAnswersThem) {
  ASSERT_TRUE(Make("python3 -c 'import zipfile; zipfile.ZipFile(\"empty.zip\", \"w\").close()' && "
                   "cp a.zip a.b.zip && cp a.zip UP.ZIP"));
  for (const char* mode : {"", "-l", "-v", "-t", "-qt", "-p", "-c", "-z", "-T", "-f", "-Z", "-Zv",
                           "-Z1", "-Zt", "-qq"}) {
    ExpectSameAs("unzip", std::string(mode) + " ../empty.zip", "e");
  }
  const auto same_words = [&](const std::string& arguments) {
    const ProcessResult theirs = Shell("unzip " + arguments);
    ProcessResult ours = Shell(Quote(Vunzip()) + " " + arguments);
    for (std::string* text : {&ours.out, &ours.err}) {
      if (text->rfind("vunzip:", 0) == 0) text->erase(0, 1);
    }
    EXPECT_EQ(ours.err, theirs.err) << arguments;
    EXPECT_EQ(ours.out, theirs.out) << arguments;
    EXPECT_EQ(ours.exit_code, theirs.exit_code) << arguments;
  };
  // Names given for an empty archive are not held against it; a wildcard
  // that finds one archive sums it up when it did not go well.
  for (const char* arguments : {"empty.zip", "-l a.b", "-t UP b.txt", "nothere", "-t nothere",
                                "-p nothere", "-l 'nothere*.zip'", "-t empty.zip x",
                                "-Z empty.zip x", "-l 'empt?.zip'", "-t 'empt?.zip'",
                                "-l 'a.b.z?p' x", "-l 'a.b.z?p'"}) {
    same_words(arguments);
  }
}

// A backslash in a stored name separates folders. For an MS-DOS name, as
// unzip reads it too, the lines and the warning are unzip's; elsewhere
// (unzip keeps the backslash in the name) the line shows what was written.
TEST_F(UnzipCompat, BackslashesInNamesAreFolderSeparatorsWithUnzipsWarning) {
  Write("backslashes.py", R"PY(
import zipfile
for archive, items in (("dos.zip", (("first.txt", 0), ("d\\x.txt", 0), ("d\\e\\y.txt", 0))),
                       ("unix.zip", (("u/a\\b.txt", 3),))):
    with zipfile.ZipFile(archive, "w") as z:
        for name, host in items:
            info = zipfile.ZipInfo(name)
            info.create_system = host
            z.writestr(info, b"x")
)PY");
  ASSERT_TRUE(Make("python3 backslashes.py"));
  ExpectSameAs("unzip", "../dos.zip", "b");
  ExpectSameAs("unzip", "-qq ../dos.zip", "q");
  const ProcessResult dos = Run({"-o", "dos.zip", "-d", "dos"});
  EXPECT_EQ(dos.err, "warning:  dos.zip appears to use backslashes as path separators\n");
  EXPECT_EQ(Read("dos/d/e/y.txt"), "x");
  const ProcessResult unix = Run({"unix.zip", "-d", "unix"});
  EXPECT_NE(unix.out.find("extracting: unix/u/a/b.txt"), std::string::npos) << unix.out;
  EXPECT_NE(unix.err.find("appears to use backslashes"), std::string::npos) << unix.err;
}

// -L reads the names of items from single-case systems (MS-DOS FAT here,
// VMS) in lower case, -LL every name: masks match the lowered name, the
// listings mark it "^" and the file written takes it.
TEST_F(UnzipCompat, NamesAreLoweredAsUnzipLowersThemWithL) {
  Write("cases.py", R"PY(
import zipfile
with zipfile.ZipFile("cases.zip", "w") as z:
    for name, host in (("README.TXT", 0), ("DIR/", 0), ("DIR/UP.TXT", 0), ("Mixed.Txt", 2),
                       ("Unix.TXT", 3), ("Ntfs.TXT", 11)):
        info = zipfile.ZipInfo(name)
        info.create_system = host
        z.writestr(info, b"" if name.endswith("/") else b"x")
)PY");
  ASSERT_TRUE(Make("python3 cases.py"));
  for (const char* arguments : {"-L -l cases.zip", "-LL -v cases.zip", "-L -t cases.zip 'dir/*'",
                                "-L -l cases.zip 'DIR/*'", "-L-L -l cases.zip"}) {
    ExpectSameAs("unzip", arguments);
  }
  ExpectSameAs("unzip", "-L ../cases.zip", "l");
  ExpectSameAs("unzip", "-LL ../cases.zip", "ll");
  EXPECT_EQ(Read("l-ours/dir/up.txt"), "x");
  EXPECT_EQ(Read("l-ours/Unix.TXT"), "x");
  EXPECT_EQ(Read("ll-ours/unix.txt"), "x");
}

// -D leaves made folders at the time of their making, -DD files too; a
// minus takes one D back.
TEST_F(UnzipCompat, StoredTimesAreLeftOutAsUnzipLeavesThemWithD) {
  ASSERT_TRUE(Make("mkdir -p t/a/b && echo x >t/a/b/f && echo y >t/g && "
                   "touch -d '2001-02-03 04:05:06' t/a/b/f t/a/b t/a t/g && cd t && zip -qr ../times.zip a g"));
  const std::string years = " && find . -mindepth 1 -printf '%p %TY\\n' | sort";
  int run = 0;
  for (const char* options : {"-D", "-DD", "-D-D", "-DD -D-"}) {
    const std::string o = options, n = std::to_string(++run);
    const ProcessResult theirs =
        Shell("mkdir u" + n + " && cd u" + n + " && unzip -q " + o + " ../times.zip" + years);
    const ProcessResult ours = Shell("mkdir v" + n + " && cd v" + n + " && " + Quote(Vunzip()) +
                                     " -q " + o + " ../times.zip" + years);
    EXPECT_EQ(ours.exit_code, 0) << o << ours.err;
    EXPECT_EQ(ours.out, theirs.out) << o;
  }
  const std::string only_d = Shell("cd v1 && find . -mindepth 1 -printf '%p %TY\\n'").out;
  EXPECT_NE(only_d.find("./g 2001"), std::string::npos) << only_d;
  EXPECT_EQ(only_d.find("./a 2001"), std::string::npos) << only_d;
}

// -B keeps what an item replaces: NAME~, or the first free NAME~N; with -o
// always NAME~. It asks nothing and overrides -n, as unzip's does. A
// backup that cannot be made leaves the file as it was.
TEST_F(UnzipCompat, ReplacedFilesAreKeptAsUnzipKeepsThemWithB) {
  Write("backups.sh", R"SH(T=$1; mkdir o && $T -q ../c.zip -d o
echo old > o/b.txt; $T -qB -o ../c.zip b.txt -d o; echo "rc $?"
echo new > o/b.txt; $T -qB -o ../c.zip b.txt -d o; echo "rc $?"
echo x > o/b.txt; $T -qB ../c.zip b.txt -d o </dev/null; echo "rc $?"
$T -qB -n ../c.zip b.txt -d o; echo "rc $?"
echo > o/b.txt~3; $T -qB ../c.zip -d o; echo "rc $?"
find o -printf '%p %s
' | sort; cat o/b.txt~
)SH");
  const ProcessResult theirs = Shell("mkdir u && cd u && sh ../backups.sh unzip");
  const ProcessResult ours = Shell("mkdir v && cd v && sh ../backups.sh " + Quote(Vunzip()));
  EXPECT_EQ(ours.out, theirs.out) << ours.err;
  EXPECT_NE(ours.out.find("o/b.txt~4"), std::string::npos) << ours.out;

  Write("blocked/b.txt", "kept");
  std::filesystem::create_directories(Work() / "blocked/b.txt~");
  const ProcessResult blocked = Run({"-qBo", "c.zip", "b.txt", "-d", "blocked"});
  EXPECT_EQ(blocked.exit_code, 2);
  EXPECT_NE(blocked.err.find("Cannot keep the existing file as b.txt~ (Is a directory)"),
            std::string::npos) << blocked.err;
  EXPECT_EQ(Read("blocked/b.txt"), "kept");
}

// -a writes items zip marked as text with LF line ends and no ^Z, and
// says how it wrote each; -aa does so for every item; -p and -c convert
// what they pipe alike; -b takes -a back.
TEST_F(UnzipCompat, TextItemsAreConvertedAsUnzipConvertsThemWithA) {
  ASSERT_TRUE(Make("printf 'a\\r\\nb\\rc\\nd\\r\\r\\ne\\032\\nf\\032' >t.txt && "
                   "printf 'bin\\r\\n\\000\\001\\r\\n' >b.dat && zip -q text.zip t.txt b.dat && "
                   "printf 'x\\r\\n' >c.txt && zip -ql text.zip c.txt"));
  const std::string sums = " && find . -type f -exec md5sum {} + | sort";
  for (const char* options : {"-a", "-aa", "-ab", "-a -c", "-aa -p", "-a -p b.dat"}) {
    const std::string o = options;
    const bool piped = o.find("-p") != std::string::npos || o.find("-c") != std::string::npos;
    const std::string line = " " + o + " ../text.zip" + (piped ? " | od -c" : " -d out" + sums);
    const ProcessResult theirs = Shell("rm -rf u && mkdir u && cd u && unzip" + line);
    const ProcessResult ours = Shell("rm -rf v && mkdir v && cd v && " + Quote(Vunzip()) + line);
    EXPECT_EQ(ours.out, theirs.out) << o << ours.err;
    EXPECT_EQ(ours.exit_code, theirs.exit_code) << o;
  }
  const ProcessResult marked = Run({"-a", "-o", "text.zip", "-d", "m"});
  EXPECT_NE(marked.out.find("m/b.dat                 [binary]"), std::string::npos) << marked.out;
  EXPECT_EQ(Read("m/t.txt"), "a\nb\nc\nd\n\ne\nf");
}

// A local header that disagrees with the central one, one byte changed at a
// named offset of the first local header (30 fixed bytes, then the name):
// the name (offset 30), a stored item's uncompressed size (22), the CRC
// (14). Test mode and extraction answer with unzip's warnings and exit
// codes; the CRC case in words of its own.
TEST_F(UnzipCompat, LocalHeaderThatDisagreesIsReportedAsUnzipDoes) {
  Write("damage.py", R"PY(
import zipfile
with zipfile.ZipFile("stored.zip", "w") as z:
    z.writestr("a.txt", b"hello world " * 100)
    z.writestr("b.txt", b"second file " * 50)
good = open("stored.zip", "rb").read()
for name, offset, value in (("name", 30, ord("x")), ("usize", 22, good[22] ^ 1),
                            ("crc", 14, good[14] ^ 0xFF)):
    damaged = bytearray(good)
    damaged[offset] = value
    open(name + ".zip", "wb").write(damaged)
)PY");
  ASSERT_TRUE(Make("python3 damage.py"));
  for (const char* name : {"name.zip", "usize.zip", "crc.zip"}) {
    for (const char* mode : {"-t ", "-o -d out "}) {
      const ProcessResult theirs = Shell(std::string("unzip ") + mode + name);
      const ProcessResult ours = Run(mode[1] == 't' ? std::vector<std::string>{"-t", name}
                                                   : std::vector<std::string>{"-o", "-d", "out", name});
      EXPECT_EQ(ours.exit_code, theirs.exit_code) << name << " " << mode << ours.err;
      if (name != std::string("crc.zip")) {
        EXPECT_EQ(ours.err, theirs.err) << name << " " << mode;
        EXPECT_EQ(ours.out, theirs.out) << name << " " << mode;
      }
    }
  }
  const ProcessResult crc = Run({"-t", "crc.zip"});
  EXPECT_NE(crc.err.find("a.txt: the local header's CRC"), std::string::npos) << crc.err;
  EXPECT_NE(crc.out.find("testing: b.txt"), std::string::npos) << crc.out;
  EXPECT_NE(Run({"-t", "name.zip"}).out.find("At least one warning-error was detected"),
            std::string::npos);
}

// What stands in an item's way is named in words, never as a Windows error
// number: a file where its folder must be, a folder where its file must be.
TEST_F(UnzipCompat, FileOrFolderInTheWayIsNamed) {
  Write("blocked/d", "a file where a folder must be");
  std::filesystem::create_directories(Work() / "blocked/e.txt");
  ASSERT_TRUE(Make("mkdir -p t/d && echo x >t/d/f && echo y >t/e.txt && cd t && zip -qr ../t.zip d e.txt"));
  const ProcessResult r = Run({"-o", "-d", "blocked", "t.zip"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err.find("I/O error"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Error Moving File"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("blocked/d exists but is not a folder"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("blocked/e.txt is a folder; not replacing it"), std::string::npos) << r.err;
  EXPECT_EQ(Read("blocked/d"), "a file where a folder must be");
}


// Stored symbolic links from zip -y, bsdtar and Python: the lines, the exit
// code and the tree (links and their texts) are unzip's.
TEST_F(UnzipCompat, StoredLinksAreMadeAsUnzipMakesThem) {
  Write("links.py", R"PY(
import stat, zipfile
with zipfile.ZipFile("py-links.zip", "w") as z:
    z.writestr("f", b"file")
    for name, text in (("l", "f"), ("d/back", "../f"), ("d/e/far", "../../f"), ("dl", "d")):
        info = zipfile.ZipInfo(name)
        info.create_system = 3
        info.external_attr = (stat.S_IFLNK | 0o777) << 16
        z.writestr(info, text)
)PY");
  ASSERT_TRUE(Make("mkdir -p ln/d && echo x >ln/f && ln -s f ln/l && ln -s ../f ln/d/back && "
                   "ln -s d ln/dl && cd ln && zip -qry ../zip-links.zip . && "
                   "bsdtar -a -cf ../tar-links.zip f l d dl && cd .. && python3 links.py"));
  const std::string tree = " && find . -printf '%y %p %l\\n' | sort -k2";
  for (const char* zip : {"zip-links.zip", "tar-links.zip", "py-links.zip"}) {
    ExpectSameAs("unzip", std::string("../") + zip, zip);
    const ProcessResult theirs = Shell(std::string("cd ") + zip + "-theirs" + tree);
    const ProcessResult ours = Shell(std::string("cd ") + zip + "-ours" + tree);
    EXPECT_EQ(ours.out, theirs.out) << zip;
    EXPECT_NE(ours.out.find("l ./l f\n"), std::string::npos) << ours.out;
    // Listing and testing show a link as the item it is.
    ExpectSameAs("unzip", std::string("-l ") + zip);
    ExpectSameAs("unzip", std::string("-t ") + zip);
  }
  // Over an existing link: -n keeps it, -o replaces it, as a file's.
  ASSERT_TRUE(Make("mkdir again && ln -s elsewhere again/l"));
  EXPECT_EQ(Run({"-qn", "-d", "again", "zip-links.zip", "l"}).exit_code, 0);
  EXPECT_EQ(fs::read_symlink(Work() / "again/l"), "elsewhere");
  EXPECT_EQ(Run({"-qo", "-d", "again", "zip-links.zip", "l"}).exit_code, 0);
  EXPECT_EQ(fs::read_symlink(Work() / "again/l"), "f");
}

// A link that may lead out (absolute, or climbing above the target) stays a
// file holding its text, with a warning and exit code 1.
TEST_F(UnzipCompat, LinkLeadingOutIsAFileHoldingItsText) {
  fs::create_directories(Work() / "victim");
  Write("escape.py", R"PY(
import stat, sys, zipfile
def link(z, name, text):
    info = zipfile.ZipInfo(name)
    info.create_system = 3
    info.external_attr = (stat.S_IFLNK | 0o777) << 16
    z.writestr(info, text)
with zipfile.ZipFile("out.zip", "w") as z:
    link(z, "abs", sys.argv[1])
    link(z, "up", "../victim")
)PY");
  ASSERT_TRUE(Make("python3 escape.py " + Quote((Work() / "victim").string())));
  const ProcessResult out = Run({"-d", "t", "out.zip"});
  EXPECT_EQ(out.exit_code, 1) << out.err;
  EXPECT_NE(out.err.find("warning:  t/up -> ../victim: a link that may lead out of the target "
                         "folder is written as a file holding its text"), std::string::npos)
      << out.err;
  EXPECT_EQ(Read("t/up"), "../victim");
  EXPECT_FALSE(fs::is_symlink(Work() / "t/abs"));
  EXPECT_TRUE(fs::is_empty(Work() / "victim"));
}


// -X as root: owner and group from the Unix extra field (zip stores 0x7875),
// for files and links alike, as unzip -X sets them; without -X the files
// stay the runner's.
TEST_F(UnzipCompat, OwnersAreRestoredWithXAsUnzipRestoresThem) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
  ASSERT_TRUE(Make("mkdir -p own && echo x >own/f && ln -s f own/l && "
                   "chown -h 12345:12346 own/f own/l && cd own && zip -qy ../own.zip f l"));
  const std::string owners = " && find . ! -name . -printf '%U:%G %p\\n' | sort -k2";
  const ProcessResult theirs = Shell("mkdir u && cd u && unzip -qX ../own.zip" + owners);
  const ProcessResult ours = Shell("mkdir v && cd v && " + Quote(Vunzip()) + " -qX ../own.zip" + owners);
  EXPECT_EQ(ours.out, theirs.out) << ours.err;
  EXPECT_EQ(ours.out, "12345:12346 ./f\n12345:12346 ./l\n");
  const ProcessResult plain = Shell("mkdir w && cd w && " + Quote(Vunzip()) + " -q ../own.zip" + owners);
  EXPECT_EQ(plain.out, "0:0 ./f\n0:0 ./l\n");
}

}  // namespace
}  // namespace velmora::tools_test
