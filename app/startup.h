#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace qelt {

// The entry routine's start-up and teardown. Returns the process exit code, which is 0 in every case that
// returns. `arguments` is the command line, argument 0 first; `errors` receives what a message box would show
// when no window can.
int RunBootstrapper(const std::vector<std::string>& arguments, std::ostream& errors);

}  // namespace qelt
