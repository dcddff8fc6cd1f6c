#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/gtk_dialog_view.h"
#include "app/posix_terminal.h"
#include "app/startup.h"
#include "app/terminal_dialog_view.h"
#include "resources/string_table.h"

namespace {

// The GTK window when a display is there and GTK starts on it; the terminal face otherwise.
std::shared_ptr<qelt::Updater::DialogView> MakeView(bool headless) {
    if (!headless) {
        if (auto window = qelt::Updater::GtkDialogView::Create()) return window;
    }
    return std::make_shared<qelt::Updater::TerminalDialogView>(std::cin, std::cerr,
                                                               qelt::StandardErrorIsTerminal());
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    qelt::BootstrapperPlatform platform;
    platform.loadString = [](unsigned id) { return qelt::LoadResourceString(id); };
    platform.makeView = MakeView;
    platform.cancelOnInterrupt = true;
    return qelt::RunBootstrapper(arguments, platform);
}
