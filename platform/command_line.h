// Windows command lines taken apart the way CommandLineToArgvW does it, so
// a program started with a Windows command line gets the arguments a
// Windows program would see.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Arguments by the rules every argument after the program name follows:
// blanks and tabs separate them outside quotes; 2n backslashes before a
// quote become n and the quote opens or closes quoting, 2n+1 become n and a
// literal quote; other backslashes are themselves; inside quotes a doubled
// quote is one literal quote and ends the quoting. Leading blanks are
// skipped; an empty line gives no arguments; "" gives an empty argument.
std::vector<std::string> SplitCommandLineArguments(std::string_view command_line);

// The whole line: the first token is the program name, which ends at the
// next quote when it starts with one and at the first blank otherwise (no
// backslash rules, so a line starting with a blank has an empty program
// name); the rest is split as above. An empty line gives nothing.
std::vector<std::string> CommandLineToArgvA(std::string_view command_line);

}  // namespace velmora
