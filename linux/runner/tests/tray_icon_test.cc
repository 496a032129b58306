// The tray item and its menu on a private session bus, read and called the
// way tray hosts do, with a watcher of the test's own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dart_side.h"
#include "private_desktop.h"
#include "tray_icon.h"
#include "tray_icon_private.h"

namespace {

using desktop_testing::Call;
using desktop_testing::CallResult;
using desktop_testing::GetProperty;
using desktop_testing::LogCapture;
using desktop_testing::RunUntil;
using desktop_testing::SignalRecorder;
using desktop_testing::Sync;
using fl_testing::HeadlessEngine;
using fl_testing::Reply;

constexpr char kChannel[] = "com.velmo.pro/tray";
constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kMenuPath[] = "/StatusNotifierItem/Menu";
constexpr char kMenuInterface[] = "com.canonical.dbusmenu";
constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kRegistered[] =
    "tray_icon: StatusNotifierItem registered; close-to-hide enabled";
constexpr char kUnavailable[] =
    "tray_icon: StatusNotifierItem unavailable; close-to-quit";

std::string Print(GVariant* value) {
  if (value == nullptr) {
    return "(null)";
  }
  g_autofree gchar* text = g_variant_print(value, TRUE);
  return text;
}

// A StatusNotifierWatcher on a connection of its own: accepts or rejects
// registrations, and vanishes when stopped.
class FakeWatcher {
 public:
  explicit FakeWatcher(bool accept = true) : accept_(accept) {
    connection_ = desktop_testing::NewConnection();
    g_autoptr(GError) error = nullptr;
    info_ = g_dbus_node_info_new_for_xml(
        R"(<node><interface name="org.kde.StatusNotifierWatcher">
             <method name="RegisterStatusNotifierItem">
               <arg name="service" type="s" direction="in"/>
             </method></interface></node>)",
        &error);
    static const GDBusInterfaceVTable vtable = {
        MethodCall, nullptr, nullptr, {}};
    g_dbus_connection_register_object(connection_, "/StatusNotifierWatcher",
                                      info_->interfaces[0], &vtable, this,
                                      nullptr, &error);
    own_id_ = g_bus_own_name_on_connection(connection_, kWatcherName,
                                           G_BUS_NAME_OWNER_FLAGS_NONE,
                                           OnAcquired, nullptr, this, nullptr);
    EXPECT_TRUE(RunUntil([this] { return owned_; }));
  }

  ~FakeWatcher() { Stop(); }

  // Leaves the bus, as a restarting or exiting watcher does.
  void Stop() {
    if (connection_ == nullptr) {
      return;
    }
    g_bus_unown_name(own_id_);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_clear_object(&connection_);
    g_clear_pointer(&info_, g_dbus_node_info_unref);
  }

  const std::vector<std::string>& registered() const { return registered_; }

 private:
  static void OnAcquired(GDBusConnection*, const gchar*, gpointer data) {
    static_cast<FakeWatcher*>(data)->owned_ = true;
  }

  static void MethodCall(GDBusConnection*,
                         const gchar*,
                         const gchar*,
                         const gchar*,
                         const gchar*,
                         GVariant* parameters,
                         GDBusMethodInvocation* invocation,
                         gpointer data) {
    auto* self = static_cast<FakeWatcher*>(data);
    const gchar* service = nullptr;
    g_variant_get(parameters, "(&s)", &service);
    self->registered_.push_back(service);
    if (self->accept_) {
      g_dbus_method_invocation_return_value(invocation, nullptr);
    } else {
      g_dbus_method_invocation_return_dbus_error(
          invocation, "org.kde.StatusNotifierWatcher.Error.Full",
          "no room in this tray");
    }
  }

  bool accept_;
  bool owned_ = false;
  GDBusConnection* connection_ = nullptr;
  GDBusNodeInfo* info_ = nullptr;
  guint own_id_ = 0;
  std::vector<std::string> registered_;
};

class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_add_weak_pointer(G_OBJECT(window_),
                              reinterpret_cast<gpointer*>(&window_));
    g_signal_connect_swapped(window_, "destroy", G_CALLBACK(CountDestroy),
                             &destroyed_);
    client_ = desktop_testing::NewConnection();
    item_name_ =
        "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1";
  }

  void TearDown() override {
    tray_icon_shutdown();
    gtk_widget_set_default_direction(GTK_TEXT_DIR_LTR);
    if (window_ != nullptr) {
      gtk_widget_destroy(window_);
    }
    g_dbus_connection_close_sync(client_, nullptr, nullptr);
    g_object_unref(client_);
  }

  static void CountDestroy(int* count) { (*count)++; }

  // Registers the tray and waits until its bus name is owned.
  void Register() {
    tray_icon_register(host_.messenger(), GTK_WINDOW(window_), "com.velmo.pro");
    ASSERT_TRUE(RunUntil([this] { return HasOwner(item_name_); }));
  }

  bool HasOwner(const std::string& name) {
    CallResult r = Call(client_, "org.freedesktop.DBus",
                        "/org/freedesktop/DBus", "org.freedesktop.DBus",
                        "NameHasOwner", g_variant_new("(s)", name.c_str()));
    gboolean has = FALSE;
    if (r.reply != nullptr) {
      g_variant_get(r.reply, "(b)", &has);
    }
    return has;
  }

  std::string ItemProperty(const char* name) {
    g_autoptr(GVariant) value = GetProperty(client_, item_name_.c_str(),
                                            kItemPath, kItemInterface, name);
    return Print(value);
  }

  std::string MenuProperty(const char* name) {
    g_autoptr(GVariant) value = GetProperty(client_, item_name_.c_str(),
                                            kMenuPath, kMenuInterface, name);
    return Print(value);
  }

  CallResult Item(const char* method, GVariant* parameters) {
    return Call(client_, item_name_.c_str(), kItemPath, kItemInterface, method,
                parameters);
  }

  CallResult Menu(const char* method, GVariant* parameters) {
    return Call(client_, item_name_.c_str(), kMenuPath, kMenuInterface, method,
                parameters);
  }

  static GVariant* Click(gint32 id) {
    return g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0);
  }

  // Availability values sent to Dart so far.
  std::vector<bool> AvailabilityCalls() {
    std::vector<bool> out;
    for (const auto& call : host_.dart().invocations()) {
      if (call.channel == kChannel && call.method == "onAvailabilityChanged") {
        out.push_back(fl_value_get_bool(call.args.get()));
      }
    }
    return out;
  }

  HeadlessEngine host_;
  GtkWidget* window_ = nullptr;
  int destroyed_ = 0;
  GDBusConnection* client_ = nullptr;
  std::string item_name_;
};

TEST_F(TrayTest, AvailabilityFollowsTheWatcher) {
  LogCapture log;
  Register();                         // no watcher yet
  EXPECT_TRUE(HasOwner(item_name_));  // the name carries our process id
  Reply r = host_.dart().Call(kChannel, "isAvailable");
  ASSERT_EQ(r.kind, Reply::Kind::kSuccess);
  EXPECT_FALSE(fl_value_get_bool(r.value.get()));

  {
    FakeWatcher watcher;
    ASSERT_TRUE(RunUntil([] { return tray_icon_is_available(); }));
    EXPECT_EQ(watcher.registered(), std::vector<std::string>{item_name_});
    r = host_.dart().Call(kChannel, "isAvailable");
    EXPECT_TRUE(fl_value_get_bool(r.value.get()));
  }  // the watcher restarts: gone ...
  ASSERT_TRUE(RunUntil([] { return !tray_icon_is_available(); }));
  FakeWatcher restarted;  // ... and back
  ASSERT_TRUE(RunUntil([] { return tray_icon_is_available(); }));
  EXPECT_EQ(restarted.registered(), std::vector<std::string>{item_name_});

  fl_testing::DartSide::Drain();
  EXPECT_EQ(AvailabilityCalls(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(log.Count(G_LOG_LEVEL_MESSAGE, kRegistered), 2);
  EXPECT_EQ(log.Count(G_LOG_LEVEL_MESSAGE, kUnavailable), 1);
  EXPECT_EQ(log.entries().size(), 3u);

  // Shutdown is quiet and gives everything back.
  tray_icon_shutdown();
  fl_testing::DartSide::Drain();
  EXPECT_FALSE(tray_icon_is_available());
  EXPECT_EQ(AvailabilityCalls().size(), 3u);
  EXPECT_EQ(log.entries().size(), 3u);
  EXPECT_TRUE(RunUntil([this] { return !HasOwner(item_name_); }));
  EXPECT_EQ(host_.dart().Call(kChannel, "isAvailable").kind,
            Reply::Kind::kNotImplemented);
}

TEST_F(TrayTest, RejectedRegistration) {
  LogCapture log;
  FakeWatcher watcher(/*accept=*/false);
  Register();
  ASSERT_TRUE(RunUntil([&] { return !watcher.registered().empty(); }));
  ASSERT_TRUE(RunUntil([&] {
    return log.Count(G_LOG_LEVEL_WARNING,
                     "tray_icon: RegisterStatusNotifierItem failed: ") == 1;
  }));
  EXPECT_EQ(log.Count(G_LOG_LEVEL_WARNING, "no room in this tray"), 1);
  fl_testing::DartSide::Drain();
  EXPECT_FALSE(tray_icon_is_available());
  EXPECT_TRUE(AvailabilityCalls().empty());
  EXPECT_EQ(log.Count(G_LOG_LEVEL_MESSAGE, "tray_icon:"), 0);
}

TEST_F(TrayTest, ItemPropertiesAsAHostReadsThem) {
  Register();
  const struct {
    const char* name;
    const char* value;
  } kCases[] = {
      {"Category", "'Communications'"},
      {"Id", "'com.velmo.pro'"},
      {"Title", "'Velmo Messenger'"},
      {"Status", "'Active'"},
      {"WindowId", "0"},
      {"IconName", "''"},  // no theme has the application's icon here
      {"IconPixmap", "@a(iiay) []"},
      {"OverlayIconName", "''"},
      {"AttentionIconName", "''"},
      {"ToolTip", "('', @a(iiay) [], 'Velmo Messenger', '')"},
      {"ItemIsMenu", "false"},
      {"Menu", "objectpath '/StatusNotifierItem/Menu'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ItemProperty(c.name), c.value);
  }

  // The tray image as hosts receive it: ARGB, opaque without alpha.
  for (bool alpha : {false, true}) {
    SCOPED_TRACE(alpha ? "RGBA" : "RGB");
    g_autoptr(GdkPixbuf) image =
        gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, 64, 32);
    gdk_pixbuf_fill(image, 0x11223344);
    tray_icon_set_pixbuf(image);
    g_autoptr(GVariant) pixmap = GetProperty(
        client_, item_name_.c_str(), kItemPath, kItemInterface, "IconPixmap");
    ASSERT_EQ(g_variant_n_children(pixmap), 1u);
    gint32 width = 0;
    gint32 height = 0;
    g_autoptr(GVariant) bytes = nullptr;
    g_variant_get_child(pixmap, 0, "(ii@ay)", &width, &height, &bytes);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 32);
    gsize len = 0;
    const guint8* data =
        static_cast<const guint8*>(g_variant_get_fixed_array(bytes, &len, 1));
    ASSERT_EQ(len, 8192u);
    const guint8 first_alpha = alpha ? 0x44 : 0xff;
    EXPECT_EQ(std::vector<guint8>(data, data + 4),
              (std::vector<guint8>{first_alpha, 0x11, 0x22, 0x33}));
  }
}

TEST(TrayPixmapTest, ArgbRowsArePackedAndOpaqueWithoutAlpha) {
  g_autoptr(GVariant) none = g_variant_ref_sink(tray_icon_pixmap(nullptr));
  EXPECT_EQ(Print(none), "@a(iiay) []");

  // Three pixels a row: RGB rows are padded to four-byte strides, which
  // the packed output must not carry over.
  for (bool alpha : {false, true}) {
    SCOPED_TRACE(alpha ? "RGBA" : "RGB");
    g_autoptr(GdkPixbuf) image =
        gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, 3, 2);
    const int channels = alpha ? 4 : 3;
    guint8* pixels = gdk_pixbuf_get_pixels(image);
    const int stride = gdk_pixbuf_get_rowstride(image);
    for (int row = 0; row < 2; row++) {
      for (int column = 0; column < 3; column++) {
        guint8* p = pixels + row * stride + column * channels;
        const guint8 base = static_cast<guint8>(10 * (row * 3 + column));
        for (int ch = 0; ch < channels; ch++) {
          p[ch] = static_cast<guint8>(base + ch + 1);
        }
      }
    }
    g_autoptr(GVariant) pixmap = g_variant_ref_sink(tray_icon_pixmap(image));
    ASSERT_EQ(g_variant_n_children(pixmap), 1u);
    g_autoptr(GVariant) bytes = nullptr;
    gint32 width = 0;
    gint32 height = 0;
    g_variant_get_child(pixmap, 0, "(ii@ay)", &width, &height, &bytes);
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 2);
    gsize len = 0;
    const guint8* out =
        static_cast<const guint8*>(g_variant_get_fixed_array(bytes, &len, 1));
    ASSERT_EQ(len, 3u * 2 * 4);
    for (int i = 0; i < 6; i++) {
      const guint8 base = static_cast<guint8>(10 * i);
      const guint8* px = out + i * 4;
      EXPECT_EQ(px[0], alpha ? base + 4 : 255) << "pixel " << i;
      EXPECT_EQ(px[1], base + 1) << "pixel " << i;
      EXPECT_EQ(px[2], base + 2) << "pixel " << i;
      EXPECT_EQ(px[3], base + 3) << "pixel " << i;
    }
  }
}

TEST_F(TrayTest, TitleFollowsTheCount) {
  Register();
  const struct {
    gint64 count;
    const char* title;
  } kCases[] = {
      {1, "Velmo Messenger \u2014 1 unread"},
      {12000, "Velmo Messenger \u2014 9999 unread"},
      {0, "Velmo Messenger"},
      {-3, "Velmo Messenger"},
      {42, "Velmo Messenger \u2014 42 unread"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.count);
    tray_icon_set_unread_count(c.count);
    const std::string quoted = std::string("'") + c.title + "'";
    EXPECT_EQ(ItemProperty("Title"), quoted);
    EXPECT_EQ(ItemProperty("ToolTip"), "('', @a(iiay) [], " + quoted + ", '')");
    CallResult r = Menu("GetProperty", g_variant_new("(is)", 4, "label"));
    EXPECT_EQ(Print(r.reply), "(<" + quoted + ">,)");
  }
}

TEST_F(TrayTest, CountChangesAreAnnouncedOnceAndOnlyWhenAvailable) {
  SignalRecorder signals(nullptr);
  Register();
  // Unavailable: stored, not announced.
  tray_icon_set_unread_count(5);
  Sync(signals.connection(), item_name_.c_str());
  EXPECT_TRUE(signals.signals().empty());
  EXPECT_EQ(ItemProperty("Title"), "'Velmo Messenger \u2014 5 unread'");

  FakeWatcher watcher;
  ASSERT_TRUE(RunUntil([] { return tray_icon_is_available(); }));
  tray_icon_set_unread_count(3);
  tray_icon_set_unread_count(3);
  Sync(signals.connection(), item_name_.c_str());
  std::vector<std::string> members;
  for (const auto& s : signals.signals()) {
    members.push_back(s.member);
    EXPECT_EQ(s.sender, signals.signals()[0].sender);
  }
  EXPECT_EQ(members, (std::vector<std::string>{"NewTitle", "NewToolTip",
                                               "ItemsPropertiesUpdated"}));
  ASSERT_EQ(signals.signals().size(), 3u);
  EXPECT_EQ(signals.signals()[0].path, kItemPath);
  EXPECT_EQ(signals.signals()[0].interface_name, kItemInterface);
  EXPECT_EQ(Print(signals.signals()[0].parameters), "()");
  EXPECT_EQ(signals.signals()[2].path, kMenuPath);
  EXPECT_EQ(Print(signals.signals()[2].parameters),
            "([(4, {'label': <'Velmo Messenger \u2014 3 unread'>, "
            "'enabled': <false>, 'visible': <true>})], @a(ias) [])");
}

TEST_F(TrayTest, ActivationAndRevealBringTheWindowBack) {
  Register();
  for (const char* method : {"Activate", "SecondaryActivate"}) {
    SCOPED_TRACE(method);
    gtk_widget_hide(window_);
    CallResult r = Item(method, g_variant_new("(ii)", 10, 20));
    EXPECT_EQ(Print(r.reply), "()");
    EXPECT_TRUE(gtk_widget_get_visible(window_));
  }

  // The context menu and scrolling are the host's business.
  gtk_widget_hide(window_);
  EXPECT_EQ(Print(Item("ContextMenu", g_variant_new("(ii)", 1, 2)).reply),
            "()");
  EXPECT_EQ(Print(Item("Scroll", g_variant_new("(is)", 120, "vertical")).reply),
            "()");
  EXPECT_FALSE(gtk_widget_get_visible(window_));

  Reply r = host_.dart().Call(kChannel, "reveal");
  ASSERT_EQ(r.kind, Reply::Kind::kSuccess);
  EXPECT_EQ(fl_value_get_type(r.value.get()), FL_VALUE_TYPE_NULL);
  EXPECT_TRUE(gtk_widget_get_visible(window_));
  EXPECT_EQ(host_.dart().Call(kChannel, "hide").kind,
            Reply::Kind::kNotImplemented);

  // Once the window is gone activation finds nothing to show.
  gtk_widget_destroy(window_);
  EXPECT_EQ(Print(Item("Activate", g_variant_new("(ii)", 0, 0)).reply), "()");
  EXPECT_EQ(host_.dart().Call(kChannel, "reveal").kind, Reply::Kind::kSuccess);
}

TEST_F(TrayTest, MenuLayoutAndProperties) {
  Register();
  tray_icon_set_unread_count(3);
  const gchar* const label_only[] = {"label", nullptr};
  const gint32 some_ids[] = {42, 1};
  const struct {
    const char* method;
    GVariant* parameters;
    const char* reply;
  } kCases[] = {
      {"GetLayout",
       g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)),
       "(uint32 1, (0, {'children-display': <'submenu'>}, "
       "[<(4, {'label': <'Velmo Messenger \u2014 3 unread'>, 'enabled': "
       "<false>, 'visible': <true>}, @av [])>, "
       "<(5, {'type': <'separator'>, 'enabled': <true>, 'visible': <true>}, "
       "@av [])>, "
       "<(1, {'label': <'Show Velmo'>, 'enabled': <true>, 'visible': "
       "<true>}, @av [])>, "
       "<(2, {'type': <'separator'>, 'enabled': <true>, 'visible': <true>}, "
       "@av [])>, "
       "<(3, {'label': <'Quit Velmo'>, 'enabled': <true>, 'visible': "
       "<true>}, @av [])>]))"},
      // Depth and property names do not narrow the answer.
      {"GetLayout", g_variant_new("(ii^as)", 3, 0, label_only),
       "(uint32 1, (3, {'label': <'Quit Velmo'>, 'enabled': <true>, "
       "'visible': <true>}, @av []))"},
      {"GetLayout",
       g_variant_new("(ii@as)", 42, 1, g_variant_new_strv(nullptr, 0)),
       "(uint32 1, (42, {'enabled': <true>, 'visible': <true>}, @av []))"},
      {"GetGroupProperties",
       g_variant_new("(@ai@as)",
                     g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0),
                     g_variant_new_strv(nullptr, 0)),
       "([(0, {'children-display': <'submenu'>}), "
       "(4, {'label': <'Velmo Messenger \u2014 3 unread'>, 'enabled': "
       "<false>, 'visible': <true>}), "
       "(5, {'type': <'separator'>, 'enabled': <true>, 'visible': <true>}), "
       "(1, {'label': <'Show Velmo'>, 'enabled': <true>, 'visible': <true>}), "
       "(2, {'type': <'separator'>, 'enabled': <true>, 'visible': <true>}), "
       "(3, {'label': <'Quit Velmo'>, 'enabled': <true>, 'visible': "
       "<true>})],)"},
      {"GetGroupProperties",
       g_variant_new("(@ai@as)",
                     g_variant_new_fixed_array(G_VARIANT_TYPE_INT32, some_ids,
                                               2, sizeof(gint32)),
                     g_variant_new_strv(nullptr, 0)),
       "([(42, {'enabled': <true>, 'visible': <true>}), "
       "(1, {'label': <'Show Velmo'>, 'enabled': <true>, 'visible': "
       "<true>})],)"},
      {"GetProperty", g_variant_new("(is)", 4, "enabled"), "(<false>,)"},
      {"GetProperty", g_variant_new("(is)", 2, "type"), "(<'separator'>,)"},
      {"AboutToShow", g_variant_new("(i)", 0), "(false,)"},
      {"AboutToShowGroup",
       g_variant_new("(@ai)",
                     g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0)),
       "(@ai [], @ai [])"},
  };
  for (const auto& c : kCases) {
    CallResult r = Menu(c.method, c.parameters);
    SCOPED_TRACE(c.method);
    EXPECT_EQ(Print(r.reply), c.reply) << r.ErrorMessage();
  }

  CallResult missing = Menu("GetProperty", g_variant_new("(is)", 0, "label"));
  EXPECT_EQ(missing.ErrorName(), "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(missing.ErrorMessage(), "no property label on item 0");

  // Undeclared methods never pass the D-Bus layer; the handler still has
  // its own answer for any it does not know.
  g_autoptr(GError) error = nullptr;
  g_autoptr(GVariant) none =
      tray_menu_handle_call("Frobnicate", g_variant_new("()"), &error);
  EXPECT_EQ(none, nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_TRUE(
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD));
  EXPECT_STREQ(error->message, "unsupported dbusmenu method Frobnicate");

  EXPECT_EQ(MenuProperty("Version"), "uint32 3");
  EXPECT_EQ(MenuProperty("Status"), "'normal'");
  EXPECT_EQ(MenuProperty("IconThemePath"), "@as []");
  EXPECT_EQ(MenuProperty("TextDirection"), "'ltr'");
  gtk_widget_set_default_direction(GTK_TEXT_DIR_RTL);
  EXPECT_EQ(MenuProperty("TextDirection"), "'rtl'");
}

TEST_F(TrayTest, MenuClicksThroughEventAndEventGroup) {
  Register();
  // "Show Velmo", alone and in a group.
  gtk_widget_hide(window_);
  EXPECT_EQ(Print(Menu("Event", Click(1)).reply), "()");
  EXPECT_TRUE(gtk_widget_get_visible(window_));
  gtk_widget_hide(window_);
  GVariantBuilder group;
  g_variant_builder_init(&group, G_VARIANT_TYPE("a(isvu)"));
  g_variant_builder_add_value(&group, Click(1));
  EXPECT_EQ(Print(Menu("EventGroup", g_variant_new("(a(isvu))", &group)).reply),
            "(@ai [],)");
  EXPECT_TRUE(gtk_widget_get_visible(window_));

  // Events other than clicks, and clicks on other items, do nothing.
  gtk_widget_hide(window_);
  EXPECT_EQ(Print(Menu("Event", g_variant_new("(isvu)", 3, "hovered",
                                              g_variant_new_int32(0), 0))
                      .reply),
            "()");
  EXPECT_EQ(Print(Menu("Event", Click(4)).reply), "()");
  fl_testing::DartSide::Drain();
  EXPECT_FALSE(gtk_widget_get_visible(window_));
  EXPECT_EQ(destroyed_, 0);

  // The quit click is answered while the window still stands; the window
  // goes afterwards, once, however many clicks there were.
  g_autoptr(GError) error = nullptr;
  g_autoptr(GVariant) reply = tray_menu_handle_call("Event", Click(3), &error);
  EXPECT_EQ(error, nullptr);
  EXPECT_NE(window_, nullptr);
  g_variant_builder_init(&group, G_VARIANT_TYPE("a(isvu)"));
  g_variant_builder_add_value(&group, Click(3));
  g_variant_builder_add_value(&group, Click(3));
  EXPECT_EQ(Print(Menu("EventGroup", g_variant_new("(a(isvu))", &group)).reply),
            "(@ai [],)");
  EXPECT_TRUE(RunUntil([this] { return window_ == nullptr; }));
  fl_testing::DartSide::Drain();
  EXPECT_EQ(destroyed_, 1);
  EXPECT_EQ(Print(Menu("Event", Click(3)).reply), "()");
}

TEST_F(TrayTest, QuitThroughEventGroupAlone) {
  Register();
  GVariantBuilder group;
  g_variant_builder_init(&group, G_VARIANT_TYPE("a(isvu)"));
  g_variant_builder_add_value(&group, Click(3));
  EXPECT_EQ(Print(Menu("EventGroup", g_variant_new("(a(isvu))", &group)).reply),
            "(@ai [],)");
  EXPECT_TRUE(RunUntil([this] { return window_ == nullptr; }));
  EXPECT_EQ(destroyed_, 1);
}

TEST_F(TrayTest, NothingHappensWithoutAWindowOrMessenger) {
  tray_icon_register(nullptr, GTK_WINDOW(window_), "com.velmo.pro");
  tray_icon_register(host_.messenger(), nullptr, "com.velmo.pro");
  tray_icon_register(host_.messenger(), GTK_WINDOW(window_), nullptr);
  EXPECT_EQ(host_.dart().Call(kChannel, "isAvailable").kind,
            Reply::Kind::kNotImplemented);
  EXPECT_FALSE(HasOwner(item_name_));
}

}  // namespace
