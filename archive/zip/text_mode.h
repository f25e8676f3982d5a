// unzip's text mode (its -a) on this system: a line end of CR LF, or a lone
// CR, becomes LF, and ^Z, the DOS end-of-file mark, is dropped wherever it
// stands. Only ever shortens: each byte taken gives at most one out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

class TAbTextModeConverter {
 public:
  // Converts count bytes into out, which has room for count + 1 (a CR held
  // back from the last piece may now give its LF); returns how many it
  // wrote. A CR at the end of a piece waits for the next one's first byte.
  size_t Convert(const uint8_t* in, size_t count, uint8_t* out);
  // The LF a CR at the very end still owes: 0 or 1 byte into out.
  size_t Finish(uint8_t* out);

 private:
  bool pending_cr_ = false;
};

// Converts the file open at fd from its start, in place, and cuts it to
// its new length. Returns false with errno set when a read or write fails.
bool ConvertFileToTextMode(int fd);

}  // namespace velmora
