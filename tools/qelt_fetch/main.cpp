// qelt-fetch: fetches one package with the download engine, headless.

#include <iostream>
#include <string>
#include <vector>

#include "app/embedded_message_catalog.h"
#include "app/locale.h"
#include "app/posix_terminal.h"
#include "tools/qelt_fetch/fetch_options.h"
#include "tools/qelt_fetch/fetch_runner.h"
#include "tools/qelt_fetch/interrupt.h"

int main(int argc, char** argv) {
    using namespace qelt::fetch;
    FetchOptions options;
    try {
        options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        std::cerr << "qelt-fetch: " << error.what() << "\nTry \"qelt-fetch --help\"." << std::endl;
        return kExitFailed;
    }
    if (options.help) {
        std::cout << UsageText();
        return kExitComplete;
    }
    InstallInterruptHandlers();
    // Messages in the user's language, as the bootstrapper shows them.
    qelt::EmbeddedMessageCatalog catalog("updater");
    qelt::AddEmbeddedLanguageFolders(catalog);
    qelt::CustomBoostLocale locale(catalog, "");
    FetchConsole console{std::cout, std::cerr, qelt::StandardErrorIsTerminal(), locale, InterruptSignal};
    return RunFetch(options, console);
}
