// TAbUnZipperStandIn: takes the place of the unzipper component TAbUnZipper
// until archive/unzipper provides it. Same interface as the parts of the
// component the installer uses; it opens nothing and extracts nothing, so
// the installation's unpacking step leaves the product folder as it is and
// every other step runs. When the real component lands, main_form.h
// includes "archive/unzipper/..." instead of this file and this file goes.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// The archive kinds, as the real component declares them.
enum TAbArchiveKind : uint8_t {
  akUnknown = 0,
  akZip = 1,
  akSpannedZip = 2,
  akSelfExtractingZip = 3,
  akTar = 4,
  akGzip = 5,
  akGzippedTar = 6,
  akCabinet = 7,
};

class TAbUnZipperStandIn {
 public:
  const std::string& FileName() const { return file_name_; }
  // The real component opens the file as an archive here.
  void SetFileName(const std::string& Value) { file_name_ = Value; }

  const std::string& BaseDirectory() const { return base_directory_; }
  void SetBaseDirectory(const std::string& Value) { base_directory_ = Value; }

  TAbArchiveKind ArchiveKind() const { return archive_kind_; }
  void SetArchiveKind(TAbArchiveKind Value) { archive_kind_ = Value; }

  uint8_t PasswordRetries() const { return password_retries_; }
  void SetPasswordRetries(uint8_t Value) { password_retries_ = Value; }

  // Nothing is open, so there is nothing to extract.
  void ExtractByMask(const std::string& Mask) { last_mask_ = Mask; }
  // For tests: the mask of the last ExtractByMask.
  const std::string& LastMask() const { return last_mask_; }

 private:
  std::string file_name_;
  std::string base_directory_;
  TAbArchiveKind archive_kind_ = akUnknown;
  uint8_t password_retries_ = 3;
  std::string last_mask_;
};

using TAbUnZipper = TAbUnZipperStandIn;

}  // namespace velmora
