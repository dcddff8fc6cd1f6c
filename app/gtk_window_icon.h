#pragma once

#include <gtk/gtk.h>

namespace qelt::Updater {

// The program's window icon, drawn at the usual icon sizes: a blue tile with a white arrow pointing down onto a
// tray. Returns a list of GdkPixbuf references for gtk_window_set_icon_list; free it with FreeWindowIcons.
GList* DrawWindowIcons();
void FreeWindowIcons(GList* icons);

}  // namespace qelt::Updater
