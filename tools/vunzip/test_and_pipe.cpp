// The modes that read items without writing files: test (-t), which
// checks each item's data against its CRC, and pipe (-p, and -c with a
// line naming each item), which writes the data to standard output.
#include "tools/vunzip/archive_run.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "archive/base/temp_file_stream.h"
#include "archive/zip/text_mode.h"
#include "archive/zip/zip_extract.h"
#include "tools/vunzip/listing.h"

namespace velmora::vunzip {

namespace {

// Standard output as an item's destination: what the decoders write goes
// on at once (converted under -a), as unzip's -p writes it, so that a pipe
// gets the data while it is made and nothing is held on disk. first_write
// runs before the first byte, for -c's line naming the item. Only where the
// writing stands can be asked, which is all the decoders but the legacy
// ones ask.
class StdoutSink : public TStream {
 public:
  StdoutSink(bool as_text, std::function<void()> first_write)
      : as_text_(as_text), first_write_(std::move(first_write)) {}

  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* buffer, int32_t count) override {
    if (count <= 0) return 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    if (!as_text_) {
      Put(bytes, static_cast<size_t>(count));
    } else {
      converted_.resize(static_cast<size_t>(count) + 1);
      Put(converted_.data(), text_.Convert(bytes, static_cast<size_t>(count), converted_.data()));
    }
    written_ += count;
    return count;
  }
  int64_t Seek(int64_t offset, uint16_t origin) override {
    const int64_t target = origin == soFromBeginning ? offset : written_ + offset;
    return target == written_ ? written_ : -1;
  }
  int64_t Size() override { return written_; }
  // The end of the item: a CR the conversion held back.
  void Finish() {
    uint8_t last[1];
    if (as_text_ && text_.Finish(last) == 1) Put(last, 1);
  }

 private:
  void Put(const uint8_t* bytes, size_t count) {
    if (first_write_) {
      first_write_();
      first_write_ = nullptr;
    }
    if (count > 0 && std::fwrite(bytes, 1, count, stdout) != count) {
      throw Exception("cannot write to standard output");
    }
  }

  bool as_text_;
  std::function<void()> first_write_;
  TAbTextModeConverter text_;
  std::vector<uint8_t> converted_;
  int64_t written_ = 0;
};

// Shrink, Reduce and Implode read back their own output, which standard
// output cannot give: their items go through a temporary file.
bool ReadsBackItsOutput(const TAbZipItem& item) {
  return item.Method() >= 1 && item.Method() <= 6;
}

}  // namespace

int ArchiveRun::Test() {
  if (options_.quiet == 0) PrintArchiveHeader(stdout, archive_path_, Comment());
  std::fputs(extra_bytes_warning_.c_str(), stdout);
  TStream* own = SingleFileStream();
  if (own == nullptr && !raw_) raw_.emplace(archive_path_, std::ios::binary);
  for (TAbZipItem* item : selected_) {
    StartItem(*item);
    const LocalHeaderChecks checks =
        own != nullptr ? CheckLocalHeader(*own, *item) : CheckLocalHeader(*raw_, *item);
    if (const auto& damage = checks.extra_field_damage) {
      // unzip's words, on its line, and the item is not decompressed.
      bar_.Clear();
      std::printf("    testing: %-22s  %s\n", SafeName(current_name_).c_str(), damage->c_str());
      exit_code_ = std::max(exit_code_, kExitArchiveError);
      ++failures_;
      continue;
    }
    const int failures_before = failures_;
    (void)ReportLocalHeader(*item, &checks.report);
    CrcCountingBucket bucket;
    test_sink_ = &bucket;
    archive_->ActiveItem = item;
    in_driver_ = true;
    try {
      UnzipItemToStream(*archive_, *item, &bucket);
    } catch (const std::exception& e) {
      if (!Skipped(*item, e)) Fail(NameOf(*item), e.what(), ExitCodeFor(e));
    }
    in_driver_ = false;
    test_sink_ = nullptr;
    if (failures_ == failures_before && options_.quiet == 0) {
      bar_.Clear();
      std::printf("    testing: %-22s   OK\n", SafeName(NameOf(*item)).c_str());
    }
    if (exit_code_ == kExitAborted) break;
  }
  PrintUnmatched(stdout);
  if (options_.quiet < 2) {
    const std::string name = SafeName(archive_path_);
    const int skipped = unsupported_ + bad_password_;
    const size_t tested = selected_.size() - static_cast<size_t>(skipped);
    if ((selected_.empty() && unmatched_.empty()) || (tested == 0 && skipped > 0)) {
      std::printf("Caution:  zero files tested in %s.\n", name.c_str());
    } else if (exit_code_ == kExitWarning && header_warnings_) {
      std::printf("At least one warning-error was detected in %s.\n", name.c_str());
    } else if ((exit_code_ <= kExitWarning ||
                (exit_code_ == kExitUnsupported && failures_ == skipped)) &&
               (options_.HasMasks() || skipped > 0)) {
      std::printf("No errors detected in %s for the %zu file%s tested.\n", name.c_str(), tested,
                  tested == 1 ? "" : "s");
    } else if (exit_code_ <= kExitWarning) {
      std::printf("No errors detected in compressed data of %s.\n", name.c_str());
    } else {
      std::printf("At least one error was detected in %s.\n", name.c_str());
    }
    if (unsupported_ > 0) {
      std::printf("%d file%s skipped because of unsupported compression or encoding.\n",
                  unsupported_, unsupported_ == 1 ? "" : "s");
    }
    if (bad_password_ > 0) {
      std::printf("%d file%s skipped because of incorrect password.\n", bad_password_,
                  bad_password_ == 1 ? "" : "s");
    }
  }
  return exit_code_;
}

// Each item's data goes to standard output as it is decoded (the legacy
// methods' through a temporary file). With -c each item is announced, as
// unzip does on the screen.
int ArchiveRun::Pipe() {
  archive_->TextMode = ArchiveTextMode();
  if (options_.pipe_with_names && options_.quiet == 0) {
    PrintArchiveHeader(stdout, archive_path_, Comment());
  }
  std::fflush(stdout);
  for (TAbZipItem* item : selected_) {
    if (IsFolderItem(*item)) {
      // -c names a folder too, with no data under it.
      if (options_.pipe_with_names && options_.quiet == 0) {
        std::printf(" extracting: %-22s  %s\n\n", SafeName(NameOf(*item)).c_str(),
                    TextMark(*item));
      }
      continue;
    }
    StartItem(*item);
    archive_->ActiveItem = item;
    // -c's line: an item skipped for its password gets only the skipping
    // line, as with unzip.
    bool announced = false;
    const auto announce = [&] {
      if (!options_.pipe_with_names || options_.quiet != 0) return;
      std::printf("%s: %-22s  %s\n", ExtractionVerb(*item),
                  SafeName(NameOf(*item)).c_str(), TextMark(*item));
      announced = true;
    };
    in_driver_ = true;
    try {
      // Named before its first byte, or once decoded when it has none: an
      // item skipped for its password writes nothing and is not named.
      StdoutSink out(archive_->WritesAsText(*item), announce);
      if (!ReadsBackItsOutput(*item)) {
        UnzipItemToStream(*archive_, *item, &out);
      } else {
        TAbTempFileStream temp(true);
        UnzipItemToStream(*archive_, *item, &temp);
        temp.Seek(0, soFromBeginning);
        std::vector<uint8_t> buffer(1 << 16);
        for (int32_t got; (got = temp.Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0;) {
          out.Write(buffer.data(), got);
        }
      }
      out.Finish();
      if (!announced) announce();
    } catch (const std::exception& e) {
      // A password refused or not to be had, a method not read: unzip's
      // "skipping:" line alone, as when extracting.
      if (!Skipped(*item, e)) {
        if (!announced) announce();
        Fail(NameOf(*item), e.what(), ExitCodeFor(e));
      }
    }
    in_driver_ = false;
    if (announced) std::fputc('\n', stdout);
  }
  std::fflush(stdout);
  return exit_code_;
}

}  // namespace velmora::vunzip
