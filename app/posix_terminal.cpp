#include "app/posix_terminal.h"

#include <unistd.h>

namespace qelt {

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

}  // namespace qelt
