// unzip's wildcards for the masks on vunzip's command line: "*" (any run
// of characters, "/" included), "?" (one character), "[...]" classes with
// ranges and "!" or "^" negation, and "\" quoting the next character. A
// mask matches the whole stored name, with case unless case_blind (-C).
// With stop_at_folder (-W), "*" and "?" match no "/", and "**" is the run
// that may hold them.
//
// This is the command line's reading only: the engine's own mask matching,
// which the component and the installer use ("*.*" selecting every item),
// is left as it is.
#pragma once

#include <string_view>

namespace velmora::vunzip {

bool WildcardMatch(std::string_view mask, std::string_view name, bool case_blind,
                   bool stop_at_folder = false);

}  // namespace velmora::vunzip
