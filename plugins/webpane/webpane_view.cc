// A web view's life after attach: the WebKit objects it is built from, and
// everything its page tells Dart or asks Dart to decide.
#include "webpane_view.h"

namespace {

constexpr char kOnTitleChangedMethod[] = "onTitleChanged";
constexpr char kOnUrlChangedMethod[] = "onUrlChanged";
constexpr char kOnLoadFinishedMethod[] = "onLoadFinished";
constexpr char kOnLoadFailedMethod[] = "onLoadFailed";
constexpr char kOnWebProcessTerminatedMethod[] = "onWebProcessTerminated";
constexpr char kOnBridgeRequestMethod[] = "onBridgeRequest";
constexpr char kOnNavigationRequestMethod[] = "onNavigationRequest";

// A page's bridge message waiting for Dart's "bridgeReply".
struct PendingBridgeRequest {
  WebKitScriptMessageReply* reply;
  JSCContext* context;  // NULL when the message came without one
};

// A navigation WebKit waits on until Dart answers "onNavigationRequest".
// The reply handler frees it; the view only ever borrows it.
struct PendingDecision {
  WebpaneView* view;               // cleared when the view goes first
  WebKitPolicyDecision* decision;  // cleared once decided
};

void PendingBridgeRequestFree(gpointer data) {
  auto* pending = static_cast<PendingBridgeRequest*>(data);
  g_clear_pointer(&pending->reply, webkit_script_message_reply_unref);
  g_clear_object(&pending->context);
  g_free(pending);
}

// Text from a page, or from Dart on its way into a page, always as valid
// UTF-8: both ends decode strictly, and JavaScript strings may hold lone
// surrogates.
gchar* ValidUtf8(const gchar* text) {
  if (text == nullptr) {
    return nullptr;
  }
  return g_utf8_validate(text, -1, nullptr) ? g_strdup(text)
                                            : g_utf8_make_valid(text, -1);
}

// A map for Dart with the view's id and one more string entry.
FlValue* EventArgs(WebpaneView* view, const gchar* key, const gchar* value) {
  FlValue* args = fl_value_new_map();
  fl_value_set_string_take(args, "id", fl_value_new_string(view->id));
  if (key != nullptr) {
    g_autofree gchar* text = ValidUtf8(value != nullptr ? value : "");
    fl_value_set_string_take(args, key, fl_value_new_string(text));
  }
  return args;
}

// The channel to talk to Dart on, while the view and its plug-in still have
// one.
FlMethodChannel* ChannelOf(WebpaneView* view) {
  if (view->plugin == nullptr) {
    return nullptr;
  }
  return webpane_plugin_get_channel(view->plugin);
}

// Sends `method` to Dart without waiting for a reply; takes `args`.
void Notify(WebpaneView* view, const gchar* method, FlValue* args) {
  g_autoptr(FlValue) owned = args;
  FlMethodChannel* channel = ChannelOf(view);
  if (channel != nullptr) {
    fl_method_channel_invoke_method(channel, method, owned, nullptr, nullptr,
                                    nullptr);
  }
}

// Called when the page's title changes.
void TitleChangedCb(WebKitWebView* web_view, GParamSpec*, gpointer data) {
  auto* view = static_cast<WebpaneView*>(data);
  const gchar* title = webkit_web_view_get_title(web_view);
  if (title != nullptr) {
    Notify(view, kOnTitleChangedMethod, EventArgs(view, "title", title));
  }
}

// Called when the view's URI changes.
void UriChangedCb(WebKitWebView* web_view, GParamSpec*, gpointer data) {
  auto* view = static_cast<WebpaneView*>(data);
  const gchar* uri = webkit_web_view_get_uri(web_view);
  if (uri != nullptr) {
    Notify(view, kOnUrlChangedMethod, EventArgs(view, "url", uri));
  }
}

// Called at every stage of a load; only the end of one is reported.
void LoadChangedCb(WebKitWebView* web_view,
                   WebKitLoadEvent event,
                   gpointer data) {
  auto* view = static_cast<WebpaneView*>(data);
  if (event == WEBKIT_LOAD_FINISHED) {
    Notify(view, kOnLoadFinishedMethod,
           EventArgs(view, "url", webkit_web_view_get_uri(web_view)));
  }
}

// Called when a load fails. With the navigation policy on, Dart shows what
// it wants, so WebKit's own error page is suppressed.
gboolean LoadFailedCb(WebKitWebView*,
                      WebKitLoadEvent,
                      gchar* failing_uri,
                      GError* error,
                      gpointer data) {
  auto* view = static_cast<WebpaneView*>(data);
  if (webpane_load_failure_is_reported(error)) {
    Notify(view, kOnLoadFailedMethod, EventArgs(view, "url", failing_uri));
  }
  return view->navigation_policy;
}

// Called when the view's web process ends (crash, kill, memory pressure).
// The view stays as it is; Dart decides whether to reload or detach.
void WebProcessTerminatedCb(WebKitWebView*,
                            WebKitWebProcessTerminationReason,
                            gpointer data) {
  auto* view = static_cast<WebpaneView*>(data);
  Notify(view, kOnWebProcessTerminatedMethod,
         EventArgs(view, nullptr, nullptr));
}

// Camera or microphone only: a screen capture also arrives as a user-media
// request, and media capture was granted for devices, not for the screen.
gboolean IsCameraOrMicrophoneRequest(WebKitPermissionRequest* request) {
  if (!WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) {
    return FALSE;
  }
  auto* media = WEBKIT_USER_MEDIA_PERMISSION_REQUEST(request);
  if (webkit_user_media_permission_is_for_display_device(media)) {
    return FALSE;
  }
  return webkit_user_media_permission_is_for_audio_device(media) ||
         webkit_user_media_permission_is_for_video_device(media);
}

// Called when the page asks for a permission.
gboolean PermissionRequestCb(WebKitWebView*,
                             WebKitPermissionRequest* request,
                             gpointer data) {
  auto* view = static_cast<WebpaneView*>(data);
  if (view->media_capture && IsCameraOrMicrophoneRequest(request)) {
    webkit_permission_request_allow(request);
  } else {
    webkit_permission_request_deny(request);
  }
  return TRUE;
}

// Called when the page wants a new window: the embedding has room for one
// view only, so the target is loaded here instead.
GtkWidget* CreateCb(WebKitWebView* web_view,
                    WebKitNavigationAction* action,
                    gpointer) {
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const gchar* uri =
      request != nullptr ? webkit_uri_request_get_uri(request) : nullptr;
  if (uri != nullptr && uri[0] != '\0') {
    webkit_web_view_load_uri(web_view, uri);
  }
  return nullptr;
}

// Called with Dart's reply to "onNavigationRequest". Runs exactly once per
// request, also after the view is gone, and frees the pending decision.
void NavigationReplyCb(GObject* source, GAsyncResult* result, gpointer data) {
  auto* pending = static_cast<PendingDecision*>(data);
  g_autoptr(GError) error = nullptr;
  g_autoptr(FlMethodResponse) response = fl_method_channel_invoke_method_finish(
      FL_METHOD_CHANNEL(source), result, &error);
  if (pending->decision != nullptr) {
    if (webpane_navigation_reply_allows(response)) {
      webkit_policy_decision_use(pending->decision);
    } else {
      webkit_policy_decision_ignore(pending->decision);
    }
    g_clear_object(&pending->decision);
  }
  if (pending->view != nullptr) {
    pending->view->pending_decisions =
        g_list_remove(pending->view->pending_decisions, pending);
  }
  g_free(pending);
}

// Called when WebKit needs a policy decision. Only with the navigation policy
// on: navigations wait for Dart, responses WebKit cannot show are dropped.
gboolean DecidePolicyCb(WebKitWebView*,
                        WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type,
                        gpointer data) {
  auto* view = static_cast<WebpaneView*>(data);
  FlMethodChannel* channel = ChannelOf(view);
  if (!view->navigation_policy || channel == nullptr) {
    return FALSE;
  }
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    if (webkit_response_policy_decision_is_mime_type_supported(
            WEBKIT_RESPONSE_POLICY_DECISION(decision))) {
      webkit_policy_decision_use(decision);
    } else {
      webkit_policy_decision_ignore(decision);
    }
    return TRUE;
  }
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
      type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    return FALSE;
  }
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  FlValue* args = EventArgs(
      view, "url",
      request != nullptr ? webkit_uri_request_get_uri(request) : nullptr);
  fl_value_set_string_take(
      args, "isUserInitiated",
      fl_value_new_bool(webkit_navigation_action_get_navigation_type(action) ==
                        WEBKIT_NAVIGATION_TYPE_LINK_CLICKED));

  auto* pending = g_new0(PendingDecision, 1);
  pending->view = view;
  pending->decision = WEBKIT_POLICY_DECISION(g_object_ref(decision));
  view->pending_decisions = g_list_prepend(view->pending_decisions, pending);
  fl_method_channel_invoke_method(channel, kOnNavigationRequestMethod, args,
                                  nullptr, NavigationReplyCb, pending);
  fl_value_unref(args);
  return TRUE;
}

// Called when a page script posts to the bridge. The page's promise stays
// open until Dart answers with "bridgeReply".
gboolean BridgeMessageCb(WebKitUserContentManager*,
                         JSCValue* value,
                         WebKitScriptMessageReply* reply,
                         gpointer data) {
  auto* view = static_cast<WebpaneView*>(data);
  JSCContext* context =
      value != nullptr ? jsc_value_get_context(value) : nullptr;
  g_autofree gchar* text =
      value != nullptr ? jsc_value_to_string(value) : nullptr;
  if (context != nullptr) {
    // A throwing toString leaves its exception behind; it is not ours to
    // report.
    jsc_context_clear_exception(context);
  }

  auto* pending = g_new0(PendingBridgeRequest, 1);
  pending->reply = webkit_script_message_reply_ref(reply);
  pending->context =
      context != nullptr ? JSC_CONTEXT(g_object_ref(context)) : nullptr;
  gchar* request_id = g_strdup_printf("req_%u", view->next_request);
  view->next_request++;  // unsigned: wraps

  FlValue* args = EventArgs(view, "requestId", request_id);
  g_autofree gchar* message = ValidUtf8(text != nullptr ? text : "{}");
  fl_value_set_string_take(args, "message", fl_value_new_string(message));
  g_hash_table_insert(view->pending_requests, request_id, pending);
  Notify(view, kOnBridgeRequestMethod, args);
  return TRUE;
}

void SetUpBridge(WebpaneView* view, const gchar* name) {
  if (!webkit_user_content_manager_register_script_message_handler_with_reply(
          view->content_manager, name, nullptr)) {
    g_warning("webpane: could not register bridge '%s'", name);
    return;
  }
  g_autofree gchar* signal =
      g_strdup_printf("script-message-with-reply-received::%s", name);
  g_signal_connect(view->content_manager, signal, G_CALLBACK(BridgeMessageCb),
                   view);
}

const gchar* NonEmpty(const gchar* text) {
  return text != nullptr && text[0] != '\0' ? text : nullptr;
}

}  // namespace

WebpaneView* webpane_view_new(WebpanePlugin* plugin,
                              const WebpaneViewOptions& options) {
  auto* view = g_new0(WebpaneView, 1);
  view->plugin = plugin;
  view->id = g_strdup(options.id);
  view->pending_requests = g_hash_table_new_full(
      g_str_hash, g_str_equal, g_free, PendingBridgeRequestFree);
  view->x = options.x;
  view->y = options.y;
  view->width = options.width;
  view->height = options.height;
  view->navigation_policy = options.navigation_policy;
  view->media_capture = options.media_capture;

  view->content_manager = webkit_user_content_manager_new();
  if (const gchar* source = NonEmpty(options.user_script)) {
    WebKitUserScript* script = webkit_user_script_new(
        source, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(view->content_manager, script);
    webkit_user_script_unref(script);
  }
  if (const gchar* name = NonEmpty(options.bridge_name)) {
    SetUpBridge(view, name);
  }

  // A context of its own over in-memory storage: nothing reaches the disk
  // and no cookie or storage entry is shared with another view.
  WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
  WebKitWebContext* context =
      webkit_web_context_new_with_website_data_manager(data);
  view->web_view = WEBKIT_WEB_VIEW(g_object_ref_sink(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                   "user-content-manager", view->content_manager, nullptr)));
  g_object_unref(context);
  g_object_unref(data);

  WebKitSettings* settings = webkit_web_view_get_settings(view->web_view);
  webkit_settings_set_enable_javascript(settings, options.javascript_enabled);
  webkit_settings_set_enable_media_stream(settings, options.media_capture);
  webkit_settings_set_media_playback_requires_user_gesture(settings, FALSE);
  webkit_settings_set_javascript_can_access_clipboard(settings,
                                                      options.allows_clipboard);
  if (const gchar* agent = NonEmpty(options.user_agent)) {
    webkit_settings_set_user_agent(settings, agent);
  }

  g_signal_connect(view->web_view, "notify::title", G_CALLBACK(TitleChangedCb),
                   view);
  g_signal_connect(view->web_view, "notify::uri", G_CALLBACK(UriChangedCb),
                   view);
  g_signal_connect(view->web_view, "load-changed", G_CALLBACK(LoadChangedCb),
                   view);
  g_signal_connect(view->web_view, "permission-request",
                   G_CALLBACK(PermissionRequestCb), view);
  g_signal_connect(view->web_view, "create", G_CALLBACK(CreateCb), view);
  g_signal_connect(view->web_view, "load-failed", G_CALLBACK(LoadFailedCb),
                   view);
  g_signal_connect(view->web_view, "web-process-terminated",
                   G_CALLBACK(WebProcessTerminatedCb), view);
  g_signal_connect(view->web_view, "decide-policy", G_CALLBACK(DecidePolicyCb),
                   view);
  return view;
}

void webpane_view_free(WebpaneView* view) {
  if (view == nullptr) {
    return;
  }
  // Ignoring a decision below moves the view's URI back at once; a view on
  // its way out tells Dart nothing more.
  view->plugin = nullptr;
  for (GList* l = view->pending_decisions; l != nullptr; l = l->next) {
    auto* pending = static_cast<PendingDecision*>(l->data);
    pending->view = nullptr;
    if (pending->decision != nullptr) {
      webkit_policy_decision_ignore(pending->decision);
      g_clear_object(&pending->decision);
    }
  }
  g_clear_pointer(&view->pending_decisions, g_list_free);

  if (view->content_manager != nullptr) {
    g_signal_handlers_disconnect_by_data(view->content_manager, view);
    g_clear_object(&view->content_manager);
  }

  WebKitWebView* web_view =
      static_cast<WebKitWebView*>(g_steal_pointer(&view->web_view));
  if (web_view != nullptr) {
    g_signal_handlers_disconnect_by_data(web_view, view);
    gtk_widget_destroy(GTK_WIDGET(web_view));
    g_object_unref(web_view);
  }

  g_clear_pointer(&view->pending_requests, g_hash_table_destroy);
  g_clear_pointer(&view->id, g_free);
  g_free(view);
}

void webpane_view_load(WebpaneView* view, const gchar* url, const gchar* html) {
  if (view->web_view == nullptr) {
    return;
  }
  if (html != nullptr) {
    webkit_web_view_load_html(view->web_view, html, "about:blank");
  } else if (url != nullptr) {
    webkit_web_view_load_uri(view->web_view, url);
  }
}

void webpane_view_bridge_reply(WebpaneView* view,
                               const gchar* request_id,
                               const gchar* error,
                               const gchar* result) {
  auto* pending = static_cast<PendingBridgeRequest*>(
      g_hash_table_lookup(view->pending_requests, request_id));
  if (pending == nullptr) {
    return;
  }
  if (error != nullptr) {
    g_autofree gchar* text = ValidUtf8(error);
    webkit_script_message_reply_return_error_message(pending->reply, text);
  } else {
    g_autofree gchar* text = ValidUtf8(result != nullptr ? result : "null");
    g_autoptr(JSCContext) fallback =
        pending->context == nullptr ? jsc_context_new() : nullptr;
    g_autoptr(JSCValue) value = jsc_value_new_string(
        pending->context != nullptr ? pending->context : fallback, text);
    webkit_script_message_reply_return_value(pending->reply, value);
  }
  g_hash_table_remove(view->pending_requests, request_id);
}

gboolean webpane_load_failure_is_reported(const GError* error) {
  if (error == nullptr) {
    return TRUE;
  }
  if (error->domain == WEBKIT_NETWORK_ERROR &&
      error->code == WEBKIT_NETWORK_ERROR_CANCELLED) {
    return FALSE;
  }
  if (error->domain == WEBKIT_POLICY_ERROR &&
      error->code ==
          WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) {
    return FALSE;
  }
  return TRUE;
}

gboolean webpane_navigation_reply_allows(FlMethodResponse* response) {
  if (response == nullptr || !FL_IS_METHOD_SUCCESS_RESPONSE(response)) {
    return FALSE;
  }
  FlValue* value = fl_method_success_response_get_result(
      FL_METHOD_SUCCESS_RESPONSE(response));
  return value != nullptr && fl_value_get_type(value) == FL_VALUE_TYPE_BOOL &&
         fl_value_get_bool(value);
}
