#pragma once

namespace qelt::fetch {

// Makes SIGINT and SIGTERM ask the program to stop instead of ending it: the first one is recorded for
// InterruptSignal; after it both signals have their default action again, so a second one ends the process at
// once. Call once, before other threads start.
void InstallInterruptHandlers();

// The number of the first stop signal received, or 0. Safe from any thread.
int InterruptSignal();

}  // namespace qelt::fetch
