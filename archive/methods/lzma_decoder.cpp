// LZMA (method 14) and xz (method 95) through liblzma.
//
// An LZMA item starts with its own small header (APPNOTE 5.8.8): the LZMA
// SDK version (two bytes), the size of the properties (two bytes, little
// endian, 5 in practice) and the properties themselves: one byte packing
// lc, lp and pb, then the dictionary size (four bytes). Raw LZMA1 data
// follows, with an end marker when general purpose bit 1 is set. The
// decoder is told the item's declared size and allowed an end marker after
// it, so it stops at the size either way: some writers set the bit and
// leave the marker out, or the other way round.
//
// An xz item is one whole .xz stream, with its own checks.
#include <lzma.h>

#include <algorithm>
#include <memory>

#include "archive/methods/method_io.h"
#include "rtl/format.h"

namespace velmora {

namespace {

constexpr size_t kLzmaVersionBytes = 2;
constexpr size_t kLzmaPropsSizeBytes = 2;
constexpr size_t kLzmaPropsSize = 5;  // the lc/lp/pb byte and the dictionary size
// lc < 9, lp < 5, pb < 5 packed as (pb * 5 + lp) * 9 + lc.
constexpr uint8_t kLzmaPropsByteLimit = 9 * 5 * 5;
// An xz stream may ask for this much memory to be decoded: 7-Zip's and xz's
// largest presets need about 700 MiB; beyond it the item is refused rather
// than the machine swamped.
constexpr uint64_t kXzMemoryLimit = uint64_t{1} << 30;

struct LzmaStream {
  lzma_stream s = LZMA_STREAM_INIT;
  ~LzmaStream() { lzma_end(&s); }
};

[[noreturn]] void RaiseLzmaError(const char* name, lzma_ret rc) {
  switch (rc) {
    case LZMA_MEM_ERROR:
      throw EAbMethodDataError(Format("not enough memory to decode %s data", {name}));
    case LZMA_MEMLIMIT_ERROR:
      throw EAbMethodDataError(Format("%s data needs more than %d MiB of memory to decode",
                                      {name, static_cast<int64_t>(kXzMemoryLimit >> 20)}));
    case LZMA_FORMAT_ERROR:
      throw EAbMethodDataError(Format("%s data does not start with an xz stream header", {name}));
    case LZMA_OPTIONS_ERROR:
      throw EAbMethodDataError(
          Format("%s data uses options this decoder does not support", {name}));
    case LZMA_DATA_ERROR:
      throw EAbMethodDataError(Format("%s data is damaged", {name}));
    case LZMA_BUF_ERROR:
      throw EAbMethodDataError(Format("%s data ends before its end", {name}));
    default:
      throw EAbMethodDataError(
          Format("%s decoder failed (error %d)", {name, static_cast<int>(rc)}));
  }
}

// Runs an initialised decoder over the input that is left in input and
// the source behind it, until the decoder says the data has ended.
uint32_t RunLzmaDecoder(lzma_stream& s, TAbMethodInput& input, TAbMethodOutput& output,
                        const char* name) {
  std::unique_ptr<uint8_t[]> out(new uint8_t[kMethodOutputBlock]);
  lzma_action action = LZMA_RUN;
  // Until the decoder leaves output room unused it may hold more output
  // for the input it has: ask again before reading on.
  bool needs_input = s.avail_in == 0;
  for (;;) {
    if (s.avail_in == 0 && needs_input && action == LZMA_RUN) {
      if (input.Fill()) {
        s.next_in = input.next;
        s.avail_in = input.count;
      } else {
        action = LZMA_FINISH;
      }
    }
    s.next_out = out.get();
    s.avail_out = kMethodOutputBlock;
    const lzma_ret rc = lzma_code(&s, action);
    needs_input = s.avail_out != 0;
    output.Put(out.get(), kMethodOutputBlock - s.avail_out);
    if (rc == LZMA_STREAM_END) return output.Finish();
    if (rc != LZMA_OK) RaiseLzmaError(name, rc);
  }
}

}  // namespace

uint32_t DecodeLzmaData(TAbMethodJob& job) {
  TAbMethodInput input(job);
  TAbMethodOutput output(job, "LZMA");
  constexpr size_t kHeader = kLzmaVersionBytes + kLzmaPropsSizeBytes;
  if (!input.Fill() || input.count < kHeader) {
    throw EAbMethodDataError("LZMA data is shorter than its header");
  }
  const uint8_t* header = input.next;
  const size_t props_size = header[2] | (size_t{header[3]} << 8);
  if (props_size != kLzmaPropsSize) {
    throw EAbMethodDataError(
        Format("LZMA header gives %d bytes of properties; 5 are expected", {props_size}));
  }
  if (input.count - kHeader < props_size) {
    throw EAbMethodDataError("LZMA data is shorter than its header");
  }
  const uint8_t* props = header + kHeader;
  if (props[0] >= kLzmaPropsByteLimit) {
    throw EAbMethodDataError(Format("LZMA properties byte %d is out of range", {props[0]}));
  }
  lzma_options_lzma options{};
  options.lc = props[0] % 9;
  options.lp = (props[0] / 9) % 5;
  options.pb = props[0] / 45;
  const uint32_t dict_size = props[1] | (uint32_t{props[2]} << 8) | (uint32_t{props[3]} << 16) |
                             (uint32_t{props[4]} << 24);
  // No match reaches back farther than the output goes, so a dictionary
  // larger than the item is never used: it is not allocated either.
  const uint64_t needed = std::max<uint64_t>(
      static_cast<uint64_t>(std::max<int64_t>(job.UnpackedSize, 0)), LZMA_DICT_SIZE_MIN);
  options.dict_size = static_cast<uint32_t>(
      std::max<uint64_t>(std::min<uint64_t>(dict_size, needed), LZMA_DICT_SIZE_MIN));
  options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  lzma_set_ext_size(options, static_cast<uint64_t>(std::max<int64_t>(job.UnpackedSize, 0)));

  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  LzmaStream stream;
  const lzma_ret rc = lzma_raw_decoder(&stream.s, filters);
  if (rc != LZMA_OK) RaiseLzmaError("LZMA", rc);
  stream.s.next_in = props + props_size;
  stream.s.avail_in = input.count - kHeader - props_size;
  return RunLzmaDecoder(stream.s, input, output, "LZMA");
}

uint32_t DecodeXzData(TAbMethodJob& job) {
  TAbMethodInput input(job);
  TAbMethodOutput output(job, "xz");
  LzmaStream stream;
  const lzma_ret rc = lzma_stream_decoder(&stream.s, kXzMemoryLimit, 0);
  if (rc != LZMA_OK) RaiseLzmaError("xz", rc);
  return RunLzmaDecoder(stream.s, input, output, "xz");
}

}  // namespace velmora
