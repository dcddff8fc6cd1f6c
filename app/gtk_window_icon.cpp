#include "app/gtk_window_icon.h"

#include <initializer_list>

namespace qelt::Updater {
namespace {

// Drawn on a 32-unit grid and scaled, so every size has the same shape.
GdkPixbuf* DrawIcon(int size) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, size / 32.0, size / 32.0);

    constexpr double kRadius = 6;
    cairo_new_sub_path(cr);
    cairo_arc(cr, 30 - kRadius, 2 + kRadius, kRadius, -G_PI / 2, 0);
    cairo_arc(cr, 30 - kRadius, 30 - kRadius, kRadius, 0, G_PI / 2);
    cairo_arc(cr, 2 + kRadius, 30 - kRadius, kRadius, G_PI / 2, G_PI);
    cairo_arc(cr, 2 + kRadius, 2 + kRadius, kRadius, G_PI, 3 * G_PI / 2);
    cairo_close_path(cr);
    cairo_pattern_t* tile = cairo_pattern_create_linear(0, 2, 0, 30);
    cairo_pattern_add_color_stop_rgb(tile, 0, 0.33, 0.62, 0.93);
    cairo_pattern_add_color_stop_rgb(tile, 1, 0.09, 0.34, 0.72);
    cairo_set_source(cr, tile);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(tile);
    cairo_set_source_rgba(cr, 0.05, 0.2, 0.45, 0.8);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);

    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, 13.5, 6, 5, 9);  // the arrow's shaft
    cairo_fill(cr);
    cairo_move_to(cr, 8.5, 14);  // its head
    cairo_line_to(cr, 23.5, 14);
    cairo_line_to(cr, 16, 21.5);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_rectangle(cr, 8, 24, 16, 2.5);  // the tray
    cairo_fill(cr);

    cairo_destroy(cr);
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(surface, 0, 0, size, size);
    cairo_surface_destroy(surface);
    return pixbuf;
}

}  // namespace

GList* DrawWindowIcons() {
    GList* icons = nullptr;
    for (const int size : {16, 24, 32, 48, 64}) {
        if (GdkPixbuf* icon = DrawIcon(size)) icons = g_list_append(icons, icon);
    }
    return icons;
}

void FreeWindowIcons(GList* icons) {
    g_list_free_full(icons, g_object_unref);
}

}  // namespace qelt::Updater
