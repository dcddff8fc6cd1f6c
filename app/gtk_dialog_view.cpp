#include "app/gtk_dialog_view.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <iostream>

#include "app/gtk_window_icon.h"

namespace qelt::Updater {
namespace {

// The controls of the Windows dialog template, in dialog units. The language list's template height (30)
// includes its drop-down; its closed height is the button's.
struct TemplateRect {
    int x;
    int y;
    int width;
    int height;
};
constexpr TemplateRect kDialogSize{0, 0, 213, 39};
constexpr TemplateRect kLanguageLabel{7, 7, 199, 8};
constexpr TemplateRect kOkButton{157, 17, 50, 14};
constexpr TemplateRect kLanguageList{7, 18, 148, 14};
constexpr TemplateRect kProgressBar{7, 6, 199, 14};
constexpr TemplateRect kStatusText{8, 24, 199, 8};
constexpr TemplateRect kMarqueeBar = kProgressBar;

constexpr const char* kLanguagePrompt = "Please select the language for your download:";
constexpr const char* kInitialCaption = "Downloader";
constexpr const char* kInitialStatus = "Calculating time remaining";
constexpr guint kMarqueeIntervalMs = 100;

// Dialog units as Windows defines them: a horizontal unit is a quarter of the font's average character width
// (the width of the 52 Latin letters / 52), a vertical unit an eighth of its line height. Measured on the
// window's own font, so the window keeps the template's proportions whatever font the desktop uses.
struct DialogUnits {
    int baseX;
    int baseY;

    int X(int units) const { return (units * baseX + 2) / 4; }
    int Y(int units) const { return (units * baseY + 4) / 8; }
};

DialogUnits MeasureDialogUnits(GtkWidget* widget) {
    PangoLayout* layout =
        gtk_widget_create_pango_layout(widget, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    return {std::max((width + 26) / 52, 1), std::max(height, 1)};
}

void Place(GtkFixed* fixed, GtkWidget* control, const DialogUnits& units, const TemplateRect& rect) {
    gtk_widget_set_size_request(control, units.X(rect.width), units.Y(rect.height));
    gtk_fixed_put(fixed, control, units.X(rect.x), units.Y(rect.y));
}

// Themes draw a thin progress line; the template's bar is a solid 14-unit band.
void StyleAsTemplateBar(GtkWidget* bar, int height) {
    GtkCssProvider* css = gtk_css_provider_new();
    const std::string rule = "progressbar trough, progressbar trough progress { min-height: " +
                             std::to_string(std::max(height - 4, 4)) + "px; }";
    gtk_css_provider_load_from_data(css, rule.c_str(), -1, nullptr);
    gtk_style_context_add_provider(gtk_widget_get_style_context(bar), GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

void Show(GtkWidget* control, bool shown) {
    gtk_widget_set_visible(control, shown);
    gtk_widget_set_sensitive(control, shown);
}

}  // namespace

struct GtkDialogView::Window {
    GtkWidget* window = nullptr;
    GtkWidget* languageLabel = nullptr;
    GtkWidget* languageList = nullptr;
    GtkWidget* okButton = nullptr;
    GtkWidget* progressBar = nullptr;
    GtkWidget* marqueeBar = nullptr;
    GtkWidget* statusText = nullptr;
    GList* icons = nullptr;
    GMainLoop* loop = nullptr;
    guint marqueeTimer = 0;
    DialogViewEvents* events = nullptr;  // set while RunModal runs and the window is not closing
    DialogFace face = DialogFace::ProgressPage;
    bool ran = false;
    bool closing = false;

    Window();
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    void ApplyFace(DialogFace shown);
    void PressOk();
    void Cancel();
};

GtkDialogView::Window::Window() {
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), kInitialCaption);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    icons = DrawWindowIcons();
    gtk_window_set_icon_list(GTK_WINDOW(window), icons);

    const DialogUnits units = MeasureDialogUnits(window);
    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, units.X(kDialogSize.width), units.Y(kDialogSize.height));
    gtk_container_add(GTK_CONTAINER(window), fixed);

    languageLabel = gtk_label_new(kLanguagePrompt);
    gtk_label_set_xalign(GTK_LABEL(languageLabel), 0);
    gtk_label_set_ellipsize(GTK_LABEL(languageLabel), PANGO_ELLIPSIZE_END);
    languageList = gtk_combo_box_text_new();
    okButton = gtk_button_new_with_label("OK");
    gtk_widget_set_can_default(okButton, TRUE);
    progressBar = gtk_progress_bar_new();
    marqueeBar = gtk_progress_bar_new();
    gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(marqueeBar), 0.05);
    StyleAsTemplateBar(progressBar, units.Y(kProgressBar.height));
    StyleAsTemplateBar(marqueeBar, units.Y(kMarqueeBar.height));
    statusText = gtk_label_new(kInitialStatus);
    gtk_label_set_xalign(GTK_LABEL(statusText), 0);
    gtk_label_set_ellipsize(GTK_LABEL(statusText), PANGO_ELLIPSIZE_END);

    auto* area = GTK_FIXED(fixed);
    Place(area, languageLabel, units, kLanguageLabel);
    Place(area, languageList, units, kLanguageList);
    Place(area, okButton, units, kOkButton);
    Place(area, progressBar, units, kProgressBar);
    Place(area, marqueeBar, units, kMarqueeBar);
    Place(area, statusText, units, kStatusText);
    gtk_widget_show(fixed);
    gtk_window_set_default(GTK_WINDOW(window), okButton);
    ApplyFace(DialogFace::ProgressPage);

    g_signal_connect_swapped(okButton, "clicked", G_CALLBACK(+[](Window* self) { self->PressOk(); }), this);
    g_signal_connect(window, "delete-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, Window* self) -> gboolean {
                         self->Cancel();
                         return TRUE;  // the dialog decides, through Close
                     }),
                     this);
    g_signal_connect(window, "key-press-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEventKey* key, Window* self) -> gboolean {
                         switch (key->keyval) {
                             case GDK_KEY_Escape:
                                 self->Cancel();
                                 return TRUE;
                             case GDK_KEY_Return:
                             case GDK_KEY_KP_Enter:
                             case GDK_KEY_ISO_Enter:
                                 // Enter presses the default button whichever control has the focus, as in a
                                 // Windows dialog (a focused combo box would otherwise open its list).
                                 if (self->face != DialogFace::LanguagePage) return FALSE;
                                 self->PressOk();
                                 return TRUE;
                             default:
                                 return FALSE;
                         }
                     }),
                     this);
}

GtkDialogView::Window::~Window() {
    if (marqueeTimer != 0) g_source_remove(marqueeTimer);
    if (loop != nullptr) g_main_loop_unref(loop);
    gtk_widget_destroy(window);
    FreeWindowIcons(icons);
}

void GtkDialogView::Window::ApplyFace(DialogFace shown) {
    face = shown;
    const bool language = shown == DialogFace::LanguagePage;
    Show(languageLabel, language);
    Show(languageList, language);
    Show(okButton, language);
    Show(progressBar, shown == DialogFace::ProgressPage);
    Show(marqueeBar, shown == DialogFace::LaunchFace);
    Show(statusText, !language);
    if (language) gtk_widget_grab_focus(languageList);
}

void GtkDialogView::Window::PressOk() {
    if (events == nullptr || face != DialogFace::LanguagePage) return;
    events->OnOk(gtk_combo_box_get_active(GTK_COMBO_BOX(languageList)));
}

void GtkDialogView::Window::Cancel() {
    if (events != nullptr) events->OnCancel();
}

std::unique_ptr<GtkDialogView> GtkDialogView::Create() {
    // GTK would otherwise switch the C library to the user's locale, which changes how numbers are parsed and
    // written everywhere in the process; translations go through their own locale objects.
    static const bool initialized = [] {
        gtk_disable_setlocale();
        return gtk_init_check(nullptr, nullptr) != FALSE;
    }();
    if (!initialized) return nullptr;
    return std::unique_ptr<GtkDialogView>(new GtkDialogView());
}

GtkDialogView::GtkDialogView() : window_(std::make_unique<Window>()) {}

GtkDialogView::~GtkDialogView() = default;

void GtkDialogView::RunModal(DialogViewEvents& events) {
    if (!mainThread_.IsMainThread() || !window_ || window_->ran) return;
    window_->ran = true;
    window_->events = &events;
    mainThread_.Accept();
    events.OnInitialize();
    if (!window_->closing) {
        gtk_widget_show(window_->window);
        window_->loop = g_main_loop_new(nullptr, FALSE);
        g_main_loop_run(window_->loop);
    }
    mainThread_.Refuse();
    window_.reset();
}

void GtkDialogView::RequestClose() {
    if (!window_ || window_->closing) return;
    window_->closing = true;
    window_->events = nullptr;
    gtk_widget_hide(window_->window);
    if (window_->loop != nullptr) g_main_loop_quit(window_->loop);
}

void GtkDialogView::Close() {
    mainThread_.Invoke([this] { RequestClose(); });
}

void GtkDialogView::ShowFace(DialogFace face) {
    mainThread_.Invoke([this, face] {
        if (window_) window_->ApplyFace(face);
    });
}

void GtkDialogView::SetCaption(const std::string& text) {
    mainThread_.Invoke([this, &text] {
        if (window_) gtk_window_set_title(GTK_WINDOW(window_->window), text.c_str());
    });
}

void GtkDialogView::SetStatusText(const std::string& text) {
    mainThread_.Invoke([this, &text] {
        if (window_) gtk_label_set_text(GTK_LABEL(window_->statusText), text.c_str());
    });
}

void GtkDialogView::SetProgress(int percent) {
    const double fraction = std::clamp(percent, 0, 100) / 100.0;
    mainThread_.Invoke([this, fraction] {
        if (window_) gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(window_->progressBar), fraction);
    });
}

void GtkDialogView::StartMarquee() {
    mainThread_.Invoke([this] {
        if (!window_ || window_->marqueeTimer != 0) return;
        gtk_progress_bar_pulse(GTK_PROGRESS_BAR(window_->marqueeBar));
        window_->marqueeTimer = g_timeout_add(
            kMarqueeIntervalMs,
            [](gpointer bar) -> gboolean {
                gtk_progress_bar_pulse(GTK_PROGRESS_BAR(bar));
                return G_SOURCE_CONTINUE;
            },
            window_->marqueeBar);
    });
}

void GtkDialogView::SetLanguages(const std::vector<std::string>& displayNames) {
    mainThread_.Invoke([this, &displayNames] {
        if (!window_) return;
        auto* list = GTK_COMBO_BOX_TEXT(window_->languageList);
        gtk_combo_box_text_remove_all(list);
        for (const auto& name : displayNames)
            gtk_combo_box_text_append_text(list, name.c_str());
        gtk_combo_box_set_active(GTK_COMBO_BOX(list), displayNames.empty() ? -1 : 0);
    });
}

int GtkDialogView::GetSelectedLanguage() const {
    int selected = -1;
    mainThread_.Invoke([this, &selected] {
        if (window_) selected = gtk_combo_box_get_active(GTK_COMBO_BOX(window_->languageList));
    });
    return selected;
}

void GtkDialogView::ShowMessageBox(const std::string& text, const std::string& caption) {
    const bool shown = mainThread_.Invoke([this, &text, &caption] {
        GtkWindow* owner =
            window_ && gtk_widget_get_visible(window_->window) ? GTK_WINDOW(window_->window) : nullptr;
        GtkWidget* box = gtk_dialog_new_with_buttons(
            caption.c_str(), owner, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
            "OK", GTK_RESPONSE_OK, nullptr);
        gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
        gtk_window_set_position(GTK_WINDOW(box), owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
        if (window_) gtk_window_set_icon_list(GTK_WINDOW(box), window_->icons);
        gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);

        GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
        gtk_container_set_border_width(GTK_CONTAINER(row), 12);
        GtkWidget* icon = gtk_image_new_from_icon_name("dialog-error", GTK_ICON_SIZE_DIALOG);
        gtk_widget_set_valign(icon, GTK_ALIGN_START);
        GtkWidget* message = gtk_label_new(text.c_str());
        gtk_label_set_line_wrap(GTK_LABEL(message), TRUE);
        gtk_label_set_max_width_chars(GTK_LABEL(message), 56);
        gtk_label_set_xalign(GTK_LABEL(message), 0);
        gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
        gtk_box_pack_start(GTK_BOX(row), message, TRUE, TRUE, 0);
        gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(box))), row, TRUE, TRUE, 0);
        gtk_widget_show_all(row);
        gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK));

        gtk_dialog_run(GTK_DIALOG(box));
        gtk_widget_destroy(box);
    });
    if (!shown) std::cerr << caption << ": " << text << std::endl;
}

bool GtkDialogView::InvokeOnMainThread(const std::function<void()>& call) const {
    return mainThread_.Invoke(call);
}

}  // namespace qelt::Updater
