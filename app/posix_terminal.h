#pragma once

namespace qelt {

// Whether the process's standard error goes to a terminal (rather than a file or a pipe).
bool StandardErrorIsTerminal();

}  // namespace qelt
