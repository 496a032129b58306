// Sleep and wake notices from a logind of the test's own on the private
// bus, which stands in for the system bus here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dart_side.h"
#include "private_desktop.h"
#include "system_power_monitor.h"
#include "system_power_monitor_private.h"

namespace {

using desktop_testing::LogCapture;
using desktop_testing::RunUntil;
using desktop_testing::Sync;
using fl_testing::HeadlessEngine;

constexpr char kChannel[] = "com.velmo.pro/desktop_system";
constexpr char kLogind[] = "org.freedesktop.login1";

// Emits "PrepareForSleep" from a connection that owns logind's name, or,
// for an impostor, from one that does not.
class FakeLogind {
 public:
  explicit FakeLogind(bool owns_name = true)
      : connection_(desktop_testing::NewConnection()) {
    if (owns_name) {
      own_id_ = g_bus_own_name_on_connection(
          connection_, kLogind, G_BUS_NAME_OWNER_FLAGS_NONE, OnAcquired,
          nullptr, this, nullptr);
      EXPECT_TRUE(RunUntil([this] { return owned_; }));
    }
  }

  ~FakeLogind() {
    if (own_id_ != 0) {
      g_bus_unown_name(own_id_);
    }
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
  }

  void Emit(GVariant* parameters) {
    g_dbus_connection_emit_signal(connection_, nullptr,
                                  "/org/freedesktop/login1",
                                  "org.freedesktop.login1.Manager",
                                  "PrepareForSleep", parameters, nullptr);
  }

  const char* unique_name() const {
    return g_dbus_connection_get_unique_name(connection_);
  }

 private:
  static void OnAcquired(GDBusConnection*, const gchar*, gpointer data) {
    static_cast<FakeLogind*>(data)->owned_ = true;
  }

  GDBusConnection* connection_;
  guint own_id_ = 0;
  bool owned_ = false;
};

class PowerMonitorTest : public ::testing::Test {
 protected:
  void TearDown() override { system_power_monitor_free(monitor_); }

  // Starts the monitor and waits until it listens: the subscription's
  // match rule and its lookup of logind's owner go to the bus ahead of our
  // ping, so the bus has answered them once the ping is answered.
  void StartAndSubscribe() {
    monitor_ = system_power_monitor_new(host_.messenger());
    ASSERT_TRUE(RunUntil([this] { return monitor_->subscription_id != 0; }));
    Sync(monitor_->connection, "org.freedesktop.DBus");
  }

  // Returns once the monitor's connection has seen everything `logind`
  // sent so far.
  void SyncWith(const FakeLogind& logind) {
    Sync(monitor_->connection, logind.unique_name());
    fl_testing::DartSide::Drain();
  }

  std::vector<std::string> CallsToDart() {
    std::vector<std::string> out;
    for (const auto& call : host_.dart().invocations()) {
      EXPECT_EQ(call.channel, kChannel);
      EXPECT_TRUE(call.args == nullptr ||
                  fl_value_get_type(call.args.get()) == FL_VALUE_TYPE_NULL);
      out.push_back(call.method);
    }
    return out;
  }

  HeadlessEngine host_;
  SystemPowerMonitor* monitor_ = nullptr;
};

TEST_F(PowerMonitorTest, SleepAndWakeReachDartInOrder) {
  LogCapture log;
  FakeLogind logind;
  StartAndSubscribe();
  EXPECT_EQ(
      log.Count(G_LOG_LEVEL_DEBUG, "Subscribed to logind PrepareForSleep"), 1);

  logind.Emit(g_variant_new("(b)", TRUE));
  logind.Emit(g_variant_new("(b)", FALSE));
  ASSERT_TRUE(host_.dart().WaitForInvocation(kChannel, "onSystemWake"));
  EXPECT_EQ(CallsToDart(),
            (std::vector<std::string>{"onSystemWillSleep", "onSystemWake"}));
  EXPECT_EQ(log.Count(G_LOG_LEVEL_DEBUG,
                      "logind PrepareForSleep(true) -> onSystemWillSleep"),
            1);
  EXPECT_EQ(log.Count(G_LOG_LEVEL_DEBUG,
                      "logind PrepareForSleep(false) -> onSystemWake"),
            1);
  EXPECT_EQ(log.Count(G_LOG_LEVEL_WARNING, ""), 0);
}

TEST_F(PowerMonitorTest, IgnoresWrongSignaturesAndOtherSenders) {
  FakeLogind logind;
  FakeLogind impostor(/*owns_name=*/false);
  StartAndSubscribe();
  LogCapture log;
  const struct {
    GVariant* parameters;
    const char* type;
  } kCases[] = {
      {g_variant_new("(s)", "true"), "(s)"},
      {g_variant_new("(bb)", TRUE, TRUE), "(bb)"},
      {g_variant_new("()"), "()"},
  };
  for (const auto& c : kCases) {
    logind.Emit(c.parameters);
    SyncWith(logind);
    EXPECT_EQ(log.Count(G_LOG_LEVEL_WARNING,
                        std::string("PrepareForSleep delivered an unexpected "
                                    "signature: ") +
                            c.type),
              1)
        << c.type;
  }
  impostor.Emit(g_variant_new("(b)", TRUE));
  SyncWith(impostor);
  EXPECT_TRUE(CallsToDart().empty());
  EXPECT_EQ(log.entries().size(), 3u);
}

TEST_F(PowerMonitorTest, FreedMonitorHearsNothing) {
  FakeLogind logind;
  StartAndSubscribe();
  GDBusConnection* connection =
      G_DBUS_CONNECTION(g_object_ref(monitor_->connection));
  system_power_monitor_free(g_steal_pointer(&monitor_));
  system_power_monitor_free(nullptr);
  logind.Emit(g_variant_new("(b)", TRUE));
  Sync(connection, logind.unique_name());
  fl_testing::DartSide::Drain();
  g_object_unref(connection);
  EXPECT_TRUE(CallsToDart().empty());
}

// The lookup completes after the monitor is gone: under ASan any touch of
// the freed record fails the test.
TEST_F(PowerMonitorTest, FreedWhileTheBusLookupIsPending) {
  LogCapture log;
  monitor_ = system_power_monitor_new(host_.messenger());
  // The lookup's own reference is the last once the monitor is freed; it
  // goes when the completion has run.
  bool completed = false;
  g_object_weak_ref(
      G_OBJECT(monitor_->cancellable),
      [](gpointer data, GObject*) { *static_cast<bool*>(data) = true; },
      &completed);
  system_power_monitor_free(g_steal_pointer(&monitor_));
  EXPECT_FALSE(completed);
  ASSERT_TRUE(RunUntil([&] { return completed; }));
  fl_testing::DartSide::Drain();
  EXPECT_TRUE(log.entries().empty());
  EXPECT_TRUE(CallsToDart().empty());
}

}  // namespace
