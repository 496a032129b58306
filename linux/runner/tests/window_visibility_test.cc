// "isUserVisible" on a real window of the private X display. There is no
// window manager here, so the test writes the EWMH properties one would.
// gtest first: Xlib's macros (None, Bool, Status) break its headers.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <string>

#include "dart_side.h"
#include "private_desktop.h"
#include "window_visibility.h"

namespace {

using desktop_testing::RunUntil;
using fl_testing::HeadlessEngine;
using fl_testing::Reply;

constexpr char kChannel[] = "com.velmo.pro/window_visibility";

class VisibilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    display_ = gdk_x11_display_get_xdisplay(gdk_display_get_default());
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window_), 200, 100);
    g_object_add_weak_pointer(G_OBJECT(window_),
                              reinterpret_cast<gpointer*>(&window_));
  }

  void TearDown() override {
    window_visibility_shutdown();
    if (window_ != nullptr) {
      gtk_widget_destroy(window_);
    }
    Window root = DefaultRootWindow(display_);
    XDeleteProperty(display_, root, Intern("_NET_CURRENT_DESKTOP"));
    XSync(display_, False);
  }

  Atom Intern(const char* name) { return XInternAtom(display_, name, False); }

  bool AtomExists(const char* name) {
    return XInternAtom(display_, name, True) != None;
  }

  // The answer Dart gets.
  bool Visible() {
    Reply r = host_.dart().Call(kChannel, "isUserVisible");
    EXPECT_EQ(r.kind, Reply::Kind::kSuccess);
    return r.kind == Reply::Kind::kSuccess && fl_value_get_bool(r.value.get());
  }

  // Shows the window and, as no window manager does it here, gives it the
  // keyboard focus.
  void ShowActive() {
    gtk_widget_show(window_);
    ASSERT_TRUE(RunUntil([this] {
      return gtk_widget_get_mapped(window_) &&
             (gdk_window_get_state(gtk_widget_get_window(window_)) &
              GDK_WINDOW_STATE_WITHDRAWN) == 0;
    }));
    gtk_window_present(GTK_WINDOW(window_));
    ASSERT_TRUE(
        RunUntil([this] { return gtk_window_is_active(GTK_WINDOW(window_)); }));
  }

  Window Xid() {
    return gdk_x11_window_get_xid(gtk_widget_get_window(window_));
  }

  void SetCardinal(Window window, const char* name, unsigned long value) {
    XChangeProperty(display_, window, Intern(name), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&value),
                    1);
    XSync(display_, False);
  }

  HeadlessEngine host_;
  Display* display_ = nullptr;
  GtkWidget* window_ = nullptr;
};

TEST_F(VisibilityTest, FollowsMappingStateAndFocus) {
  window_visibility_register(host_.messenger(), nullptr);
  EXPECT_FALSE(Visible());  // no window
  EXPECT_EQ(host_.dart().Call(kChannel, "isVisible").kind,
            Reply::Kind::kNotImplemented);

  window_visibility_register(host_.messenger(), GTK_WINDOW(window_));
  EXPECT_FALSE(Visible());  // not realized
  gtk_widget_realize(window_);
  EXPECT_FALSE(Visible());  // not mapped

  const bool desktop_atoms_existed = AtomExists("_NET_WM_DESKTOP") ||
                                     AtomExists("_NET_CURRENT_DESKTOP") ||
                                     AtomExists("_NET_WM_STATE_HIDDEN");
  ShowActive();
  EXPECT_TRUE(Visible());
  if (!desktop_atoms_existed) {
    // Looking for the properties created none of their names.
    EXPECT_FALSE(AtomExists("_NET_WM_DESKTOP"));
    EXPECT_FALSE(AtomExists("_NET_CURRENT_DESKTOP"));
    EXPECT_FALSE(AtomExists("_NET_WM_STATE_HIDDEN"));
  }

  // Another window takes the focus.
  GtkWidget* other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_widget_show(other);
  gtk_window_present(GTK_WINDOW(other));
  ASSERT_TRUE(
      RunUntil([&] { return gtk_window_is_active(GTK_WINDOW(other)); }));
  ASSERT_TRUE(
      RunUntil([this] { return !gtk_window_is_active(GTK_WINDOW(window_)); }));
  EXPECT_FALSE(Visible());
  gtk_widget_destroy(other);

  ShowActive();
  gtk_widget_hide(window_);  // as the Dart side hides it
  EXPECT_FALSE(Visible());

  ShowActive();
  gtk_widget_destroy(window_);
  EXPECT_FALSE(Visible());
}

TEST_F(VisibilityTest, WindowManagerStateAndDesktops) {
  window_visibility_register(host_.messenger(), GTK_WINDOW(window_));
  ShowActive();
  Window root = DefaultRootWindow(display_);

  // Hidden by the window manager, though GDK still has it mapped.
  Atom states[] = {Intern("_NET_WM_STATE_ABOVE"),
                   Intern("_NET_WM_STATE_HIDDEN")};
  XChangeProperty(display_, Xid(), Intern("_NET_WM_STATE"), XA_ATOM, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(states), 2);
  XSync(display_, False);
  EXPECT_FALSE(Visible());
  XChangeProperty(display_, Xid(), Intern("_NET_WM_STATE"), XA_ATOM, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(states), 1);
  XSync(display_, False);
  EXPECT_TRUE(Visible());

  const struct {
    const char* name;
    long window_desktop;   // -1: unset
    long current_desktop;  // -1: unset
    bool visible;
  } kCases[] = {
      {"same desktop", 1, 1, true},
      {"other desktop", 2, 1, false},
      {"all desktops", 0xFFFFFFFFL, 1, true},
      {"window manager without a current desktop", 2, -1, true},
      {"window without a desktop", -1, 1, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.window_desktop >= 0) {
      SetCardinal(Xid(), "_NET_WM_DESKTOP", c.window_desktop);
    } else {
      XDeleteProperty(display_, Xid(), Intern("_NET_WM_DESKTOP"));
    }
    if (c.current_desktop >= 0) {
      SetCardinal(root, "_NET_CURRENT_DESKTOP", c.current_desktop);
    } else {
      XDeleteProperty(display_, root, Intern("_NET_CURRENT_DESKTOP"));
    }
    XSync(display_, False);
    EXPECT_EQ(Visible(), c.visible);
  }

  // A property of the wrong format is no desktop at all.
  SetCardinal(root, "_NET_CURRENT_DESKTOP", 1);
  guint16 odd = 2;
  XChangeProperty(display_, Xid(), Intern("_NET_WM_DESKTOP"), XA_CARDINAL, 16,
                  PropModeReplace, reinterpret_cast<unsigned char*>(&odd), 1);
  XSync(display_, False);
  EXPECT_TRUE(Visible());

  window_visibility_shutdown();
  EXPECT_EQ(host_.dart().Call(kChannel, "isUserVisible").kind,
            Reply::Kind::kNotImplemented);
}

}  // namespace
