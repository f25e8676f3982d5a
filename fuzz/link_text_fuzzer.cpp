// The rule that decides whether a stored link is made as a link: the first
// byte is the link's depth below the target folder, the rest its text. A
// text the rule accepts must stay inside under the worst reading, in which
// every name in it is itself a link to the target folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive/zip/zip_extract_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t depth = data[0] % 16;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (!velmora::LinkStaysInside(text, depth)) return 0;
  if (text.empty() || text[0] == '/' || text.find('\0') != std::string::npos) std::abort();
  size_t worst = depth;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(start, end - start);
    start = end + 1;
    if (part == "..") {
      if (worst == 0) std::abort();  // out of the target folder
      --worst;
    } else if (!part.empty() && part != ".") {
      worst = 0;  // a name may be a link to the target folder itself
    }
  }
  return 0;
}
