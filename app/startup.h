#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_view.h"
#include "app/launch_options.h"
#include "app/transfer_service.h"

namespace qelt {

// What the entry routine takes from the platform; tests run it with their own string table and view.
struct BootstrapperPlatform {
    // The program's string table (resources 102-109, 129, 130).
    StringLoader loadString;
    // The window of the dialog: `headless` asks for one without a display. Called once, on the calling thread
    // of RunBootstrapper, which becomes the window's main thread. Must not return null.
    std::function<std::shared_ptr<Updater::DialogView>(bool headless)> makeView;
    // Where analytics go: the hosts compiled into the program unless a test points them elsewhere.
    DeploymentValues deployment = CompiledDeploymentValues();
    // Whether Ctrl-C and SIGTERM cancel the dialog (an orderly end) instead of killing the process. The programs
    // ask for it; tests that run the entry routine inside their own process leave the process's signals alone.
    bool cancelOnInterrupt = false;
};

// The command-line argument that asks for the terminal face even where a display is available.
inline constexpr const char* kHeadlessArgument = "--headless";
// Whether an argument after the program name is exactly kHeadlessArgument.
bool IsHeadless(const std::vector<std::string>& arguments);

// The entry routine: start-up, the dialog, and teardown in order (the monitor, then the service, which suspends
// every transfer still running, then the rest). Returns the process exit code, which is 0 in every case that
// returns. `arguments` is the command line, argument 0 first. Runs once per process, unless the caller deletes the
// dialog (Updater::Dialog::DestroySingleton) before running it again. With `cancelOnInterrupt`, call it before
// the process starts any other thread.
int RunBootstrapper(const std::vector<std::string>& arguments, const BootstrapperPlatform& platform);

}  // namespace qelt
