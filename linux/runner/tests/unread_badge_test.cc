// The launcher badge: "updateBadge" from Dart, the LauncherEntry signal a
// dock hears on the private session bus, and the count the tray shows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "dart_side.h"
#include "private_desktop.h"
#include "tray_icon.h"
#include "unread_badge.h"

namespace {

using desktop_testing::GetProperty;
using desktop_testing::RunUntil;
using desktop_testing::SignalRecorder;
using desktop_testing::Sync;
using fl_testing::HeadlessEngine;
using fl_testing::Reply;
using fl_testing::ValuePtr;

constexpr char kChannel[] = "com.velmo.pro/badge_manager";
constexpr char kInterface[] = "com.canonical.Unity.LauncherEntry";
// The string hash of application://com.velmo.pro.desktop; docks find the
// entry under this path on every run.
constexpr char kObjectPath[] = "/com/canonical/unity/launcherentry/3994494888";

std::string Print(GVariant* value) {
  g_autofree gchar* text = g_variant_print(value, TRUE);
  return text;
}

std::string UpdateFor(gint64 count, bool visible) {
  return "('application://com.velmo.pro.desktop', {'count': <int64 " +
         std::to_string(count) + ">, 'count-visible': <" +
         (visible ? "true" : "false") + ">})";
}

class BadgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Held so the badge keeps one connection (and one unique name) across
    // shutdown and a new registration.
    session_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    unread_badge_register(host_.messenger(), "com.velmo.pro");
  }

  void TearDown() override {
    unread_badge_shutdown();
    tray_icon_shutdown();
    gtk_widget_destroy(window_);
    g_clear_object(&session_);
  }

  Reply UpdateWith(FlValue* count) {
    return host_.dart().Call(kChannel, "updateBadge", count);
  }

  Reply Update(gint64 count) {
    g_autoptr(FlValue) value = fl_value_new_int(count);
    return UpdateWith(value);
  }

  // Waits for every launcher signal the badge sent so far.
  void SyncWithBadge() {
    Sync(signals_.connection(), g_dbus_connection_get_unique_name(session_));
  }

  GDBusConnection* session_ = nullptr;
  HeadlessEngine host_;
  GtkWidget* window_;
  SignalRecorder signals_{kInterface};
};

TEST(BadgePathTest, StableStringHashOfTheApplicationUri) {
  g_autofree gchar* path = unread_badge_object_path("com.velmo.pro");
  EXPECT_STREQ(path, kObjectPath);
  // GLib's own string hash agrees, for a URI with bytes over 127 too.
  for (const char* id : {"com.velmo.pro", "x", "caf\xc3\xa9.app"}) {
    g_autofree gchar* uri = g_strdup_printf("application://%s.desktop", id);
    g_autofree gchar* want = g_strdup_printf(
        "/com/canonical/unity/launcherentry/%u", g_str_hash(uri));
    g_autofree gchar* got = unread_badge_object_path(id);
    EXPECT_STREQ(got, want) << id;
  }
}

TEST_F(BadgeTest, EveryCountIsAnnouncedClampedAndReachesTheTray) {
  tray_icon_register(host_.messenger(), GTK_WINDOW(window_), "com.velmo.pro");
  const struct {
    gint64 count;
    gint64 shown;
  } kCases[] = {{5, 5}, {0, 0}, {-4, 0}, {123456, 9999}, {9999, 9999}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.count);
    signals_.Clear();
    Reply r = Update(c.count);
    ASSERT_EQ(r.kind, Reply::Kind::kSuccess);
    EXPECT_EQ(fl_value_get_type(r.value.get()), FL_VALUE_TYPE_NULL);
    ASSERT_TRUE(RunUntil([&] { return signals_.signals().size() == 1; }));
    EXPECT_EQ(signals_.signals()[0].path, kObjectPath);
    EXPECT_EQ(signals_.signals()[0].member, "Update");
    EXPECT_EQ(Print(signals_.signals()[0].parameters),
              UpdateFor(c.shown, c.shown > 0));
  }

  // The same count again is announced again.
  signals_.Clear();
  Update(5);
  Update(5);
  ASSERT_TRUE(RunUntil([&] { return signals_.signals().size() == 2; }));
  EXPECT_EQ(Print(signals_.signals()[1].parameters), UpdateFor(5, true));

  std::string tray_name =
      "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1";
  g_autoptr(GVariant) title =
      GetProperty(signals_.connection(), tray_name.c_str(),
                  "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Title");
  EXPECT_EQ(Print(title), "'Velmo Messenger \u2014 5 unread'");
}

TEST_F(BadgeTest, OnlyIntegerCounts) {
  g_autoptr(FlValue) text = fl_value_new_string("5");
  g_autoptr(FlValue) list = fl_value_new_list();
  fl_value_append_take(list, fl_value_new_int(5));
  for (FlValue* args : {static_cast<FlValue*>(nullptr), text, list}) {
    Reply r = UpdateWith(args);
    ASSERT_EQ(r.kind, Reply::Kind::kError);
    EXPECT_EQ(r.code, "bad_args");
    EXPECT_EQ(r.message, "updateBadge expects an integer count");
    EXPECT_EQ(r.details, nullptr);
  }
  EXPECT_EQ(host_.dart().Call(kChannel, "setBadge").kind,
            Reply::Kind::kNotImplemented);
  Update(1);  // a valid one afterwards is the only signal
  ASSERT_TRUE(RunUntil([&] { return !signals_.signals().empty(); }));
  SyncWithBadge();
  ASSERT_EQ(signals_.signals().size(), 1u);
  EXPECT_EQ(Print(signals_.signals()[0].parameters), UpdateFor(1, true));
}

TEST_F(BadgeTest, ShutdownClearsAShownCountOnly) {
  Update(7);
  ASSERT_TRUE(RunUntil([&] { return signals_.signals().size() == 1; }));
  unread_badge_shutdown();
  ASSERT_TRUE(RunUntil([&] { return signals_.signals().size() == 2; }));
  EXPECT_EQ(Print(signals_.signals()[1].parameters), UpdateFor(0, false));
  EXPECT_EQ(host_.dart().Call(kChannel, "updateBadge").kind,
            Reply::Kind::kNotImplemented);

  // A cleared badge needs no clearing; nor does one never set.
  unread_badge_register(host_.messenger(), "com.velmo.pro");
  Update(0);
  ASSERT_TRUE(RunUntil([&] { return signals_.signals().size() == 3; }));
  unread_badge_shutdown();
  unread_badge_register(host_.messenger(), "com.velmo.pro");
  unread_badge_shutdown();
  SyncWithBadge();
  EXPECT_EQ(signals_.signals().size(), 3u);
}

}  // namespace
