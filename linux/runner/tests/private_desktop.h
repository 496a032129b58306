// A private desktop for the desktop-service tests: each test process gets
// its own Xvfb display and dbus-daemon, started before the first test and
// stopped after the last. The one bus serves as both the session and the
// system bus. Helpers: waiting on the main loop, calling and watching the
// bus from a connection of the test's own, capturing the GLib log.
#ifndef LINUX_RUNNER_TESTS_PRIVATE_DESKTOP_H_
#define LINUX_RUNNER_TESTS_PRIVATE_DESKTOP_H_

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace desktop_testing {

// The private bus's address ("" before the environment is up).
const std::string& BusAddress();

// RunUntil iterates the default main context until `done` holds; false if
// it still does not after `timeout_ms`.
bool RunUntil(const std::function<bool()>& done, int timeout_ms = 5000);

// A connection of the test's own to the private bus (full reference).
GDBusConnection* NewConnection();

// The outcome of a D-Bus call.
struct CallResult {
  GVariant* reply = nullptr;  // owned; nullptr on error
  GError* error = nullptr;    // owned
  CallResult() = default;
  CallResult(const CallResult&) = delete;
  CallResult& operator=(const CallResult&) = delete;
  CallResult(CallResult&& other) noexcept;
  ~CallResult();
  std::string ErrorName() const;     // the remote D-Bus error name, or ""
  std::string ErrorMessage() const;  // the message without the name prefix
};

// Call makes a call on `connection` and runs the main loop until its reply
// arrives (the callee may live in this process). `parameters` is floating
// or NULL.
CallResult Call(GDBusConnection* connection,
                const char* destination,
                const char* path,
                const char* interface_name,
                const char* method,
                GVariant* parameters);

// GetProperty reads one property the way a tray host does (full, or
// nullptr on error).
GVariant* GetProperty(GDBusConnection* connection,
                      const char* destination,
                      const char* path,
                      const char* interface_name,
                      const char* name);

// Sync returns once every message `peer` sent before now has been handled
// here: a peer's messages arrive in order, so its answer to a ping comes
// after them.
void Sync(GDBusConnection* connection, const char* peer);

// A signal received on a SignalRecorder's connection.
struct Signal {
  std::string sender;
  std::string path;
  std::string interface_name;
  std::string member;
  GVariant* parameters;  // owned
};

// SignalRecorder records every signal on `interface_name` (any when NULL)
// that reaches its own connection, in arrival order.
class SignalRecorder {
 public:
  explicit SignalRecorder(const char* interface_name);
  ~SignalRecorder();
  SignalRecorder(const SignalRecorder&) = delete;
  SignalRecorder& operator=(const SignalRecorder&) = delete;

  GDBusConnection* connection() const { return connection_; }
  const std::vector<Signal>& signals() const { return signals_; }
  // Signals of `member`, oldest first.
  std::vector<const Signal*> Of(const std::string& member) const;
  void Clear();

 private:
  static void OnSignal(GDBusConnection* connection,
                       const gchar* sender,
                       const gchar* path,
                       const gchar* interface_name,
                       const gchar* member,
                       GVariant* parameters,
                       gpointer user_data);

  GDBusConnection* connection_;
  guint subscription_;
  std::vector<Signal> signals_;
};

// LogCapture records the GLib log messages without a log domain (ours)
// while it exists, instead of printing them; messages of libraries, which
// carry their domain, are dropped.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  struct Entry {
    GLogLevelFlags level;
    std::string message;
  };
  const std::vector<Entry>& entries() const { return entries_; }
  // How many messages at `level` contain `text`.
  int Count(GLogLevelFlags level, const std::string& text) const;

 private:
  static void Handler(const gchar* domain,
                      GLogLevelFlags level,
                      const gchar* message,
                      gpointer user_data);

  GLogFunc previous_;
  gpointer previous_data_;
  std::vector<Entry> entries_;
};

}  // namespace desktop_testing

#endif  // LINUX_RUNNER_TESTS_PRIVATE_DESKTOP_H_
