#include "private_desktop.h"

#include <gtest/gtest.h>

#include <cstring>

namespace desktop_testing {
namespace {

std::string g_bus_address;

// Starts `argv` with its standard output piped and returns the first line
// it prints there (the display number, the bus address).
GSubprocess* StartAndReadLine(const char* const* argv, std::string* line) {
  g_autoptr(GError) error = nullptr;
  GSubprocess* process = g_subprocess_newv(
      argv,
      static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                    G_SUBPROCESS_FLAGS_STDERR_SILENCE),
      &error);
  if (process == nullptr) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << error->message;
    return nullptr;
  }
  g_autoptr(GDataInputStream) out =
      g_data_input_stream_new(g_subprocess_get_stdout_pipe(process));
  g_autofree gchar* text =
      g_data_input_stream_read_line(out, nullptr, nullptr, &error);
  if (text == nullptr) {
    ADD_FAILURE() << argv[0] << " printed nothing";
  } else {
    *line = text;
  }
  return process;
}

void Stop(GSubprocess** process) {
  if (*process != nullptr) {
    g_subprocess_force_exit(*process);
    g_subprocess_wait(*process, nullptr, nullptr);
    g_clear_object(process);
  }
}

class PrivateDesktop : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* const xvfb[] = {
        "Xvfb",        "-displayfd", "1",   "-screen",  "0",
        "1024x768x24", "-nolisten",  "tcp", "-noreset", nullptr};
    std::string display;
    xvfb_ = StartAndReadLine(xvfb, &display);
    const char* const bus[] = {"dbus-daemon", "--session", "--nofork",
                               "--print-address=1", nullptr};
    bus_ = StartAndReadLine(bus, &g_bus_address);
    ASSERT_FALSE(display.empty());
    ASSERT_FALSE(g_bus_address.empty());

    g_setenv("DISPLAY", (":" + display).c_str(), TRUE);
    g_setenv("GDK_BACKEND", "x11", TRUE);
    g_setenv("NO_AT_BRIDGE", "1", TRUE);
    g_setenv("GSETTINGS_BACKEND", "memory", TRUE);
    g_setenv("DBUS_SESSION_BUS_ADDRESS", g_bus_address.c_str(), TRUE);
    g_setenv("DBUS_SYSTEM_BUS_ADDRESS", g_bus_address.c_str(), TRUE);
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  }

  void TearDown() override {
    Stop(&bus_);
    Stop(&xvfb_);
  }

 private:
  GSubprocess* xvfb_ = nullptr;
  GSubprocess* bus_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new PrivateDesktop);

gboolean WakeUp(gpointer) {
  return G_SOURCE_CONTINUE;
}

}  // namespace

const std::string& BusAddress() {
  return g_bus_address;
}

bool RunUntil(const std::function<bool()>& done, int timeout_ms) {
  const gint64 deadline = g_get_monotonic_time() + timeout_ms * 1000LL;
  // Wakes the blocking iteration now and then, so the deadline is seen.
  const guint tick = g_timeout_add(10, WakeUp, nullptr);
  bool ok = true;
  while (!done()) {
    if (g_get_monotonic_time() > deadline) {
      ok = false;
      break;
    }
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(tick);
  return ok;
}

GDBusConnection* NewConnection() {
  g_autoptr(GError) error = nullptr;
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      g_bus_address.c_str(),
      static_cast<GDBusConnectionFlags>(
          G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  EXPECT_NE(connection, nullptr) << error->message;
  if (connection != nullptr) {
    g_dbus_connection_set_exit_on_close(connection, FALSE);
  }
  return connection;
}

CallResult::CallResult(CallResult&& other) noexcept
    : reply(other.reply), error(other.error) {
  other.reply = nullptr;
  other.error = nullptr;
}

CallResult::~CallResult() {
  g_clear_pointer(&reply, g_variant_unref);
  g_clear_error(&error);
}

std::string CallResult::ErrorName() const {
  if (error == nullptr) {
    return "";
  }
  g_autofree gchar* name = g_dbus_error_get_remote_error(error);
  return name != nullptr ? name : "";
}

std::string CallResult::ErrorMessage() const {
  if (error == nullptr) {
    return "";
  }
  g_autoptr(GError) copy = g_error_copy(error);
  g_dbus_error_strip_remote_error(copy);
  return copy->message;
}

namespace {

struct PendingCall {
  CallResult* out;
  bool done;
};

void OnCallDone(GObject* source, GAsyncResult* result, gpointer user_data) {
  PendingCall* pending = static_cast<PendingCall*>(user_data);
  pending->out->reply = g_dbus_connection_call_finish(
      G_DBUS_CONNECTION(source), result, &pending->out->error);
  pending->done = true;
}

}  // namespace

CallResult Call(GDBusConnection* connection,
                const char* destination,
                const char* path,
                const char* interface_name,
                const char* method,
                GVariant* parameters) {
  CallResult out;
  PendingCall pending{&out, false};
  g_dbus_connection_call(connection, destination, path, interface_name, method,
                         parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
                         nullptr, OnCallDone, &pending);
  // The reply is bounded by the call's own timeout.
  EXPECT_TRUE(RunUntil([&] { return pending.done; }, 10000));
  return out;
}

GVariant* GetProperty(GDBusConnection* connection,
                      const char* destination,
                      const char* path,
                      const char* interface_name,
                      const char* name) {
  CallResult r =
      Call(connection, destination, path, "org.freedesktop.DBus.Properties",
           "Get", g_variant_new("(ss)", interface_name, name));
  if (r.reply == nullptr) {
    ADD_FAILURE() << "reading " << name << ": " << r.error->message;
    return nullptr;
  }
  GVariant* value = nullptr;
  g_variant_get(r.reply, "(v)", &value);
  return value;
}

void Sync(GDBusConnection* connection, const char* peer) {
  CallResult r =
      Call(connection, peer, "/", "org.freedesktop.DBus.Peer", "Ping", nullptr);
  EXPECT_EQ(r.error, nullptr);
}

SignalRecorder::SignalRecorder(const char* interface_name)
    : connection_(NewConnection()) {
  subscription_ = g_dbus_connection_signal_subscribe(
      connection_, nullptr, interface_name, nullptr, nullptr, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, OnSignal, this, nullptr);
  // The bus applies the match rule asynchronously; a round trip to it makes
  // sure the rule is in place before the test acts.
  Sync(connection_, "org.freedesktop.DBus");
}

SignalRecorder::~SignalRecorder() {
  g_dbus_connection_signal_unsubscribe(connection_, subscription_);
  Clear();
  g_dbus_connection_close_sync(connection_, nullptr, nullptr);
  g_object_unref(connection_);
}

void SignalRecorder::OnSignal(GDBusConnection* connection,
                              const gchar* sender,
                              const gchar* path,
                              const gchar* interface_name,
                              const gchar* member,
                              GVariant* parameters,
                              gpointer user_data) {
  auto* self = static_cast<SignalRecorder*>(user_data);
  if (strcmp(interface_name, "org.freedesktop.DBus") == 0) {
    return;  // the bus's own NameAcquired and the like
  }
  self->signals_.push_back(Signal{sender != nullptr ? sender : "", path,
                                  interface_name, member,
                                  g_variant_ref(parameters)});
}

std::vector<const Signal*> SignalRecorder::Of(const std::string& member) const {
  std::vector<const Signal*> out;
  for (const Signal& s : signals_) {
    if (s.member == member) {
      out.push_back(&s);
    }
  }
  return out;
}

void SignalRecorder::Clear() {
  for (Signal& s : signals_) {
    g_variant_unref(s.parameters);
  }
  signals_.clear();
}

LogCapture::LogCapture() {
  previous_ = g_log_set_default_handler(Handler, this);
  previous_data_ = nullptr;
}

LogCapture::~LogCapture() {
  g_log_set_default_handler(previous_, previous_data_);
}

void LogCapture::Handler(const gchar* domain,
                         GLogLevelFlags level,
                         const gchar* message,
                         gpointer user_data) {
  auto* self = static_cast<LogCapture*>(user_data);
  if (domain != nullptr) {
    return;  // a library's own chatter, not ours
  }
  self->entries_.push_back(
      Entry{static_cast<GLogLevelFlags>(level & G_LOG_LEVEL_MASK), message});
}

int LogCapture::Count(GLogLevelFlags level, const std::string& text) const {
  int n = 0;
  for (const Entry& e : entries_) {
    if (e.level == level && e.message.find(text) != std::string::npos) {
      n++;
    }
  }
  return n;
}

}  // namespace desktop_testing
