#include "app/gtk_dialog_view.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "app/embedded_message_catalog.h"
#include "app/error_message.h"
#include "app/locale.h"
#include "tests/support/posix_xvfb_display.h"

// GTK, fontconfig and D-Bus keep caches for the life of the process and never free them; under
// LeakSanitizer they would hide what the window itself leaks. The system libraries have no frame pointers, so
// only the slow unwinder sees that an allocation came from inside gtk_init_check.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:gtk_init_check\nleak:libfontconfig.so\nleak:libdbus-1.so\n";
}
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
// Pango loads fonts on a thread of its own, handing data over with GLib's futex locks, which ThreadSanitizer
// does not see in the uninstrumented system libraries.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libfontconfig.so\nrace:libfontconfig.so\n";
}

namespace qelt::Updater {
namespace {

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 600;

// One X server for the whole program: GTK opens its display once per process.
class XvfbEnvironment : public ::testing::Environment {
public:
    static const test::XvfbDisplay* Display() { return display_.get(); }

    void SetUp() override {
        display_ = std::make_unique<test::XvfbDisplay>(kScreenWidth, kScreenHeight);
        // No accessibility bus: the window needs none, and its connection thread only adds noise.
        setenv("NO_AT_BRIDGE", "1", 1);
        // Never let GTK reach another display (a developer's desktop) when ours is not there.
        if (display_->IsRunning())
            setenv("DISPLAY", display_->Name().c_str(), 1);
        else
            unsetenv("DISPLAY");
    }
    void TearDown() override { display_.reset(); }

private:
    static inline std::unique_ptr<test::XvfbDisplay> display_;
};
[[maybe_unused]] const auto* const kXvfb = ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

// Screenshots land in the build tree, or where QELT_SCREENSHOT_DIR says (scripts/screenshot uses docs/).
std::filesystem::path ScreenshotDir() {
    const char* dir = std::getenv("QELT_SCREENSHOT_DIR");
    std::filesystem::path path = dir && *dir ? dir : QELT_DEFAULT_SCREENSHOT_DIR;
    std::filesystem::create_directories(path);
    return path;
}

struct PixbufUnref {
    void operator()(GdkPixbuf* pixbuf) const { g_object_unref(pixbuf); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, PixbufUnref>;

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Main thread only.
Rect ScreenRect(GtkWidget* window) {
    Rect rect;
    GdkWindow* gdk = gtk_widget_get_window(window);
    gdk_window_get_origin(gdk, &rect.x, &rect.y);
    rect.width = gdk_window_get_width(gdk);
    rect.height = gdk_window_get_height(gdk);
    return rect;
}

// What the X server shows in `rect` of the screen, whatever window it belongs to. Main thread only.
Pixbuf Grab(const Rect& rect) {
    return Pixbuf(
        gdk_pixbuf_get_from_window(gdk_get_default_root_window(), rect.x, rect.y, rect.width, rect.height));
}

bool SameImage(const Pixbuf& a, const Pixbuf& b) {
    const auto size = gdk_pixbuf_get_byte_length(a.get());
    return size == gdk_pixbuf_get_byte_length(b.get()) &&
           std::equal(gdk_pixbuf_read_pixels(a.get()), gdk_pixbuf_read_pixels(a.get()) + size,
                      gdk_pixbuf_read_pixels(b.get()));
}

// The rightmost column where two images of the same size differ, as a share of the width; -1 when none does.
double RightmostChange(const Pixbuf& before, const Pixbuf& after) {
    const int width = gdk_pixbuf_get_width(before.get());
    const int height = gdk_pixbuf_get_height(before.get());
    const int stride = gdk_pixbuf_get_rowstride(before.get());
    const int channels = gdk_pixbuf_get_n_channels(before.get());
    const guint8* a = gdk_pixbuf_read_pixels(before.get());
    const guint8* b = gdk_pixbuf_read_pixels(after.get());
    for (int x = width - 1; x >= 0; --x) {
        for (int y = 0; y < height; ++y) {
            const int at = y * stride + x * channels;
            if (!std::equal(a + at, a + at + channels, b + at)) return static_cast<double>(x + 1) / width;
        }
    }
    return -1;
}

// A key pressed on `window`, through GDK's event queue as the X server's events come. Main thread only.
bool PressKey(GtkWidget* window, guint keyval) {
    GdkWindow* target = gtk_widget_get_window(window);
    GdkDisplay* display = gdk_window_get_display(target);
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(target));
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = keyval;
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count) && count > 0)
        event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
    g_free(keys);
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
    gdk_event_put(event);
    gdk_event_free(event);
    return true;
}

// The user input a test expects from the window, and the dialog's usual answers to it.
struct ScriptedEvents : DialogViewEvents {
    std::function<void()> initialize;
    std::function<void(int)> ok;
    std::function<void()> cancel;
    std::atomic<int> oks = 0;
    std::atomic<int> lastOk = -2;
    std::atomic<int> cancels = 0;

    void OnInitialize() override {
        if (initialize) initialize();
    }
    void OnOk(int languageIndex) override {
        lastOk = languageIndex;
        ++oks;
        if (ok) ok(languageIndex);
    }
    void OnCancel() override {
        ++cancels;
        if (cancel) cancel();
    }
};

class GtkDialogViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* display = XvfbEnvironment::Display();
        if (!display->IsRunning()) GTEST_SKIP() << "Xvfb cannot run here: " << display->Failure();
        view_ = GtkDialogView::Create();
        ASSERT_NE(view_, nullptr) << "GTK did not start on the Xvfb display " << display->Name();
        AddEmbeddedLanguageFolders(catalog_);
    }

    // Runs the window modally on this thread while `other` plays the monitor thread (or the user) on a second
    // one; the window is closed when `other` ends, also when one of its assertions gave up early.
    void RunWith(ScriptedEvents& events, const std::function<void()>& other) {
        std::thread second([&] {
            other();
            view_->Close();
        });
        view_->RunModal(events);
        second.join();
    }

    // Runs `query` on the main thread and hands its answer to the calling thread.
    template <typename Query>
    auto OnMain(Query query) {
        decltype(query()) answer{};
        view_->InvokeOnMainThread([&] { answer = query(); });
        return answer;
    }

    static bool WaitUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Main thread only: the mapped toplevel window with that title.
    static GtkWidget* FindWindow(const std::string& title) {
        GList* windows = gtk_window_list_toplevels();
        GtkWidget* found = nullptr;
        for (GList* item = windows; item != nullptr && found == nullptr; item = item->next) {
            auto* window = GTK_WIDGET(item->data);
            const char* shown = gtk_window_get_title(GTK_WINDOW(window));
            if (shown != nullptr && title == shown && gtk_widget_get_mapped(window)) found = window;
        }
        g_list_free(windows);
        return found;
    }

    // Main thread only: the first child of the window's layout of that type, in template order.
    static GtkWidget* FindControl(GtkWidget* window, GType type, int skip = 0) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(window))));
        GtkWidget* found = nullptr;
        for (GList* item = children; item != nullptr && found == nullptr; item = item->next) {
            if (G_TYPE_CHECK_INSTANCE_TYPE(item->data, type) && skip-- == 0) found = GTK_WIDGET(item->data);
        }
        g_list_free(children);
        return found;
    }

    GtkWidget* WaitForWindow(const std::string& title) {
        GtkWidget* window = nullptr;
        WaitUntil([&] { return (window = OnMain([&] { return FindWindow(title); })) != nullptr; });
        return window;
    }

    // A screenshot of `rect` once drawing has settled (two grabs in a row agree).
    Pixbuf SettledShot(const std::function<Rect()>& rect) {
        Pixbuf last;
        WaitUntil([&] {
            Pixbuf shot = OnMain([&] { return Grab(rect()); });
            const bool settled = last && shot && SameImage(last, shot);
            last = std::move(shot);
            return settled;
        });
        return last;
    }

    EmbeddedMessageCatalog catalog_{"updater"};
    std::unique_ptr<GtkDialogView> view_;
};

TEST_F(GtkDialogViewTest, ProgressPageShowsTheTranslatedTitleCentredAndTheBarFollowsAnotherThread) {
    const CustomBoostLocale german(catalog_, "de");
    const std::string title = german.TranslateWith(kWindowTitleMessage, "Vellamor");
    ASSERT_NE(title, "Vellamor Downloader") << "the German catalog should translate the title";
    ScriptedEvents events;
    events.initialize = [&] {
        view_->SetCaption(title);
        view_->SetStatusText(german.FormatRemainingTime(-1));
        view_->ShowFace(DialogFace::ProgressPage);
    };
    RunWith(events, [&] {
        GtkWidget* window = WaitForWindow(title);
        ASSERT_NE(window, nullptr) << "no mapped window titled " << title;
        const Rect rect = OnMain([&] { return ScreenRect(window); });
        EXPECT_NEAR(rect.x, (kScreenWidth - rect.width) / 2, 1);
        EXPECT_NEAR(rect.y, (kScreenHeight - rect.height) / 2, 1);
        EXPECT_GT(rect.width, 3 * rect.height) << "the template is 213 x 39 dialog units";
        EXPECT_FALSE(OnMain([&] { return gtk_widget_get_visible(FindControl(window, GTK_TYPE_COMBO_BOX)); }));

        // The bar starts 7 of 213 units from the left and is 199 units long.
        const auto screen = [&] { return ScreenRect(window); };
        const Pixbuf empty = SettledShot(screen);
        for (const int percent : {25, 75}) {
            view_->SetProgress(percent);
            const double expected = (7 + 199 * percent / 100.0) / 213;
            double measured = -1;
            EXPECT_TRUE(WaitUntil([&] {
                measured = RightmostChange(empty, OnMain([&] { return Grab(screen()); }));
                return std::abs(measured - expected) < 0.03;
            })) << percent
                << "% should fill the bar up to " << expected << " of the width, not " << measured;
        }
        view_->SetStatusText(german.FormatRemainingTime(150));
        const Pixbuf shot = SettledShot(screen);
        EXPECT_TRUE(
            gdk_pixbuf_save(shot.get(), (ScreenshotDir() / "progress-page.png").c_str(), "png", nullptr, nullptr));
    });
    EXPECT_EQ(events.cancels, 0);

    // The window has gone: calls from another thread return at once and change nothing.
    // A message box that can no longer be shown is written to standard error.
    testing::internal::CaptureStderr();
    std::thread late([&] {
        view_->SetProgress(50);
        view_->Close();
        EXPECT_EQ(view_->GetSelectedLanguage(), -1);
        view_->ShowMessageBox("Too late.", "Caption");
    });
    late.join();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Caption: Too late.\n");
}

TEST_F(GtkDialogViewTest, ErrorBoxIsModalWithTheTranslatedCaptionAndBlocksTheCallerUntilDismissed) {
    const CustomBoostLocale german(catalog_, "de");
    const std::string title = german.TranslateWith(kWindowTitleMessage, "Vellamor");
    const std::string caption = german.TranslateWith(kErrorCaptionMessage, "Vellamor");
    ScriptedEvents events;
    events.initialize = [&] {
        view_->SetCaption(title);
        view_->SetStatusText(german.FormatRemainingTime(400));
        view_->SetProgress(40);
        view_->ShowFace(DialogFace::ProgressPage);
    };
    std::atomic<bool> returned = false;
    RunWith(events, [&] {
        GtkWidget* window = WaitForWindow(title);
        std::thread user([&] {
            GtkWidget* box = WaitForWindow(caption);
            ASSERT_NE(box, nullptr) << "no message box captioned " << caption;
            EXPECT_FALSE(returned) << "the caller must wait for the user";
            EXPECT_TRUE(OnMain([&] {
                return gtk_window_get_modal(GTK_WINDOW(box)) &&
                       gtk_window_get_transient_for(GTK_WINDOW(box)) == GTK_WINDOW(window);
            }));
            // The box over its window, which it may hide entirely.
            const Pixbuf shot = SettledShot([&] {
                const Rect a = ScreenRect(window);
                const Rect b = ScreenRect(box);
                Rect both;
                both.x = std::min(a.x, b.x);
                both.y = std::min(a.y, b.y);
                both.width = std::max(a.x + a.width, b.x + b.width) - both.x;
                both.height = std::max(a.y + a.height, b.y + b.height) - both.y;
                return both;
            });
            EXPECT_TRUE(
                gdk_pixbuf_save(shot.get(), (ScreenshotDir() / "error-box.png").c_str(), "png", nullptr, nullptr));
            OnMain([&] {
                gtk_button_clicked(
                    GTK_BUTTON(gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK)));
                return true;
            });
        });
        view_->ShowMessageBox(german.Translate(ErrorMessage(TransferError::ConnectionError)), caption);
        returned = true;
        user.join();
    });
    EXPECT_TRUE(returned);
    EXPECT_EQ(events.cancels, 0);
}

TEST_F(GtkDialogViewTest, EnterPressesOkWithTheChosenLanguageAndOnlyOnTheLanguagePage) {
    ScriptedEvents events;
    events.initialize = [&] {
        view_->SetCaption("Languages");
        view_->SetLanguages({"English", "Deutsch", "Français"});
        view_->ShowFace(DialogFace::LanguagePage);
    };
    events.ok = [&](int) { view_->ShowFace(DialogFace::ProgressPage); };
    events.cancel = [&] { view_->Close(); };
    RunWith(events, [&] {
        GtkWidget* window = WaitForWindow("Languages");
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(view_->GetSelectedLanguage(), 0);
        const Pixbuf shot = SettledShot([&] { return ScreenRect(window); });
        EXPECT_TRUE(
            gdk_pixbuf_save(shot.get(), (ScreenshotDir() / "language-page.png").c_str(), "png", nullptr, nullptr));
        EXPECT_TRUE(OnMain([&] {
            return gtk_widget_get_visible(FindControl(window, GTK_TYPE_COMBO_BOX)) &&
                   gtk_widget_get_visible(FindControl(window, GTK_TYPE_BUTTON)) &&
                   !gtk_widget_get_visible(FindControl(window, GTK_TYPE_PROGRESS_BAR));
        }));
        OnMain([&] {
            gtk_combo_box_set_active(GTK_COMBO_BOX(FindControl(window, GTK_TYPE_COMBO_BOX)), 2);
            return PressKey(window, GDK_KEY_Return);
        });
        ASSERT_TRUE(WaitUntil([&] { return events.oks == 1; })) << "Enter did not press OK";
        EXPECT_EQ(events.lastOk, 2);
        EXPECT_EQ(view_->GetSelectedLanguage(), 2);
        EXPECT_TRUE(OnMain([&] {
            return !gtk_widget_get_visible(FindControl(window, GTK_TYPE_COMBO_BOX)) &&
                   gtk_widget_get_visible(FindControl(window, GTK_TYPE_PROGRESS_BAR));
        }));
        // On the progress page Enter does nothing; Escape, sent after it, shows it was handled first.
        OnMain([&] { return PressKey(window, GDK_KEY_Return) && PressKey(window, GDK_KEY_Escape); });
        EXPECT_TRUE(WaitUntil([&] { return events.cancels == 1; })) << "Escape did not ask to end";
    });
    EXPECT_EQ(events.oks, 1);
}

TEST_F(GtkDialogViewTest, LaunchFaceReplacesTheBarByAMovingMarquee) {
    ScriptedEvents events;
    events.initialize = [&] {
        view_->SetCaption("Launching");
        view_->SetProgress(60);
        view_->ShowFace(DialogFace::ProgressPage);
    };
    RunWith(events, [&] {
        GtkWidget* window = WaitForWindow("Launching");
        ASSERT_NE(window, nullptr);
        view_->ShowFace(DialogFace::LaunchFace);
        view_->StartMarquee();
        view_->SetStatusText("Launching Vellamor Downloader");
        EXPECT_TRUE(OnMain([&] {
            return !gtk_widget_get_visible(FindControl(window, GTK_TYPE_PROGRESS_BAR)) &&
                   gtk_widget_get_visible(FindControl(window, GTK_TYPE_PROGRESS_BAR, 1));
        }));
        const auto screen = [&] { return ScreenRect(window); };
        const Pixbuf first = SettledShot(screen);
        EXPECT_TRUE(WaitUntil([&] { return !SameImage(first, OnMain([&] { return Grab(screen()); })); }))
            << "the marquee does not move";
    });
}

TEST_F(GtkDialogViewTest, CloseBoxAsksTheDialogWhichDecidesToEnd) {
    ScriptedEvents events;
    events.initialize = [&] {
        view_->SetCaption("Closing");
        view_->ShowFace(DialogFace::ProgressPage);
    };
    events.cancel = [&] {
        if (events.cancels == 2) view_->Close();
    };
    std::atomic<bool> ended = false;
    RunWith(events, [&] {
        GtkWidget* window = WaitForWindow("Closing");
        ASSERT_NE(window, nullptr);
        for (int attempt = 1; attempt <= 2; ++attempt) {
            OnMain([&] {
                gtk_window_close(GTK_WINDOW(window));
                return true;
            });
            EXPECT_TRUE(WaitUntil([&] { return events.cancels == attempt; }));
        }
        // The second answer closed the window; the modal run ends without the Close of RunWith.
        ended = WaitUntil([&] { return !OnMain([] { return true; }); });
    });
    EXPECT_TRUE(ended);
    EXPECT_EQ(events.cancels, 2);
}

}  // namespace
}  // namespace qelt::Updater
