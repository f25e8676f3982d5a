// TAbDeflateHelper, the option holder the extraction driver hands to
// Inflate (and that carries the sizes back), and TAbLogger, the decoder's
// optional text log.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/inflate/bit_reader.h"
#include "rtl/stream.h"

namespace velmora {

// Option flags decoding reads. The default 0x0F is four flags of the
// compressing side, which decoding ignores.
constexpr uint32_t dfoDeflate64 = 0x10;
constexpr uint32_t dfoAdler32 = 0x20;
constexpr uint32_t dfoTestOnly = 0x40000000;
constexpr uint32_t kDefaultDeflateOptions = 0x0F;

class TAbDeflateHelper {
 public:
  TAbDeflateHelper() = default;
  virtual ~TAbDeflateHelper() = default;

  // Copies every field except the two out-fields.
  void Assign(const TAbDeflateHelper& other);

  uint32_t PasswordCheckValue = 0xFFFFFFFFu;
  std::string LogFileName;
  TAbProgressPercentEvent OnProgressPercent;
  uint32_t Options = kDefaultDeflateOptions;
  // Above 0: decoding stops once this many bytes are produced.
  int32_t OutputLimit = 0;
  std::string Passphrase;
  // Out: compressed bytes consumed and bytes produced by the last decoding.
  int32_t PackedSize = 0;
  int32_t UnpackedSize = 0;
  // Divisor of the progress percentage; -1 means the source's total size.
  // 64-bit, so that an item of more than 2 GiB does not reach 100 early.
  int64_t SourceSize = 0;
  // The size the output is declared to have (an archive's directory says
  // it), or -1 when unknown. A destination that lends its memory for that
  // many bytes receives the output in place, and in a test-only decoding
  // the output beyond it goes to the destination (see Inflate).
  int64_t KnownUnpackedSize = -1;
};

enum TAbLineDelimiter : uint8_t { ldCRLF, ldLF, ldNone };

// A write-only, buffered text log on a file, created (replacing any file
// of that name) only when a log file name is set.
class TAbLogger : public TStream {
 public:
  explicit TAbLogger(const std::string& file_name);
  ~TAbLogger() override;

  void WriteLine(const std::string& text);

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  // Only a seek of 0 from the current position or the end is allowed; it
  // gives the file position plus the buffered bytes.
  int64_t Seek(int64_t offset, uint16_t origin) override;

  TAbLineDelimiter LineDelimiter = ldCRLF;

 private:
  void Flush();

  static constexpr int32_t kBufferSize = 4096;
  std::unique_ptr<uint8_t[]> buffer_;
  int32_t position_ = 0;
  std::unique_ptr<THandleStream> file_;
};

}  // namespace velmora
