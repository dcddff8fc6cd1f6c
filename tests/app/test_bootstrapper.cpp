// The bootstrapper for tests that run the whole program as a process against servers of their own: the program's
// entry routine with the terminal face, taking from the environment what a build compiles in.
//   QELT_TEST_STRING_<id>     replaces string <id> of the string table; set but empty, the string is absent
//   QELT_TEST_ANALYTICS_HOST  replaces both analytics hosts
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/posix_terminal.h"
#include "app/startup.h"
#include "app/terminal_dialog_view.h"
#include "resources/string_table.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    qelt::BootstrapperPlatform platform;
    platform.loadString = [](unsigned id) {
        const std::string name = "QELT_TEST_STRING_" + std::to_string(id);
        if (const char* value = std::getenv(name.c_str())) return qelt::CutResourceString(value);
        return qelt::LoadResourceString(id);
    };
    platform.makeView = [](bool) {
        return std::make_shared<qelt::Updater::TerminalDialogView>(std::cin, std::cerr,
                                                                   qelt::StandardErrorIsTerminal());
    };
    if (const char* host = std::getenv("QELT_TEST_ANALYTICS_HOST")) platform.deployment = {host, host};
    platform.cancelOnInterrupt = true;
    return qelt::RunBootstrapper(arguments, platform);
}
