// One attached web view: its WebKit objects, its rectangle over the Flutter
// view, and what it reports to Dart (page events, script bridge, navigation
// and permission decisions). Internal to the library; main thread only.
#ifndef PLUGINS_WEBPANE_WEBPANE_VIEW_H_
#define PLUGINS_WEBPANE_WEBPANE_VIEW_H_

#include <flutter_linux/flutter_linux.h>
#include <webkit2/webkit2.h>

#include <cstdint>

#include "webpane_plugin_private.h"

// What Dart asked for at attach. Strings are borrowed; an empty string in
// the optional ones means absent.
struct WebpaneViewOptions {
  const gchar* id = nullptr;
  const gchar* user_script = nullptr;
  const gchar* bridge_name = nullptr;
  const gchar* user_agent = nullptr;
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 1;
  int32_t height = 1;
  gboolean navigation_policy = FALSE;
  gboolean media_capture = FALSE;
  gboolean javascript_enabled = TRUE;
  gboolean allows_clipboard = FALSE;
};

// The view record. The plug-in reads the rectangle and the web view for
// placement and writes the rectangle on "setRect"; everything else belongs
// to webpane_view.cc.
struct WebpaneView {
  WebpanePlugin* plugin;  // not a reference
  gchar* id;
  // Held, so the pointer stays valid even when a container destroys the
  // widget before the record goes (the window closing at exit).
  WebKitWebView* web_view;
  WebKitUserContentManager* content_manager;  // held
  GHashTable* pending_requests;  // request id -> pending bridge request
  uint32_t next_request;
  gboolean navigation_policy;
  gboolean media_capture;
  GList* pending_decisions;  // newest first
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;
};

// webpane_view_new creates the record with its content manager (user script,
// bridge), its own ephemeral web context and the web view with its settings
// and signal handlers. Nothing is loaded and the view has no parent yet.
WebpaneView* webpane_view_new(WebpanePlugin* plugin,
                              const WebpaneViewOptions& options);

// webpane_view_free tears the record down: pending navigation decisions are
// ignored, handlers disconnected, the web view destroyed and pending bridge
// requests dropped unanswered. NULL is ignored.
void webpane_view_free(WebpaneView* view);

// webpane_view_load loads `html` (base URI "about:blank") when given,
// otherwise `url`.
void webpane_view_load(WebpaneView* view, const gchar* url, const gchar* html);

// webpane_view_bridge_reply answers the page's bridge message `request_id`:
// rejected with `error` when that is non-NULL, otherwise resolved with
// `result` (or "null" when that is NULL). Does nothing for an unknown
// request.
void webpane_view_bridge_reply(WebpaneView* view,
                               const gchar* request_id,
                               const gchar* error,
                               const gchar* result);

// Decision rules, separate so they can be checked without a web process.

// webpane_load_failure_is_reported tells whether a failed load goes to Dart:
// all but WebKit's cancelled load and its load interrupted by a policy
// change. A failure without an error is reported.
gboolean webpane_load_failure_is_reported(const GError* error);

// webpane_navigation_reply_allows tells whether Dart's reply to
// "onNavigationRequest" lets the navigation go ahead: only a success whose
// value is the bool true. NULL (the call failed) denies.
gboolean webpane_navigation_reply_allows(FlMethodResponse* response);

#endif  // PLUGINS_WEBPANE_WEBPANE_VIEW_H_
