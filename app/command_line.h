#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qelt {

// Splits an argument string (without the program name) the way the Windows command-line splitter does, so a
// started program receives the same arguments on every platform:
// - arguments are separated by runs of spaces and tabs outside double quotes;
// - a double quote toggles quoting and is dropped, except that inside quotes two quotes in a row give one
//   literal quote and end the quoting (so "a""b" gives a"b, and """ gives one quote);
// - 2n backslashes before a quote give n backslashes (the quote then acts as above), 2n + 1 give n backslashes
//   and a literal quote; backslashes not before a quote are kept as they are;
// - "" on its own gives an empty argument.
std::vector<std::string> SplitArgumentString(std::string_view text);

}  // namespace qelt
