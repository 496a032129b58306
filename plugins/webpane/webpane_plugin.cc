// The web-view plug-in: the channel "velmo/webpane", the table of attached
// views, and their placement as overlay children above the Flutter view.
#include "webpane/webpane_plugin.h"

#include <cstdint>
#include <cstring>
#include <optional>

#include "webpane_plugin_private.h"
#include "webpane_view.h"

namespace {

constexpr char kChannelName[] = "velmo/webpane";

constexpr char kIsAvailableMethod[] = "isAvailable";
constexpr char kAttachMethod[] = "attach";
constexpr char kSetRectMethod[] = "setRect";
constexpr char kSetVisibleMethod[] = "setVisible";
constexpr char kDetachMethod[] = "detach";
constexpr char kBridgeReplyMethod[] = "bridgeReply";

constexpr char kBadArgumentsError[] = "bad_arguments";
constexpr char kAttachArgumentsMessage[] =
    "attach requires an id and a url or an html document";
constexpr char kDuplicateIdError[] = "duplicate_id";
constexpr char kDuplicateIdMessage[] =
    "a view with this id is already attached";
constexpr char kUnavailableError[] = "unavailable";
constexpr char kUnavailableMessage[] = "no GtkOverlay to embed the web view in";
constexpr char kDetachArgumentsMessage[] = "detach requires an id";
constexpr char kBridgeReplyArgumentsMessage[] =
    "bridgeReply requires an id and a requestId";

}  // namespace

struct _WebpanePlugin {
  GObject parent_instance;

  FlPluginRegistrar* registrar;
  FlMethodChannel* channel;
  GHashTable* views;  // id -> WebpaneView*, both owned
  // The overlay that holds the Flutter view, found at the first attach.
  // Not owned; a weak pointer, so it reads NULL once the window is gone.
  GtkOverlay* overlay;
};

G_DEFINE_TYPE(WebpanePlugin, webpane_plugin, G_TYPE_OBJECT)

namespace {

// Argument lookups: a key whose value has another type counts as absent.
FlValue* Lookup(FlValue* args, const gchar* key, FlValueType type) {
  if (args == nullptr || fl_value_get_type(args) != FL_VALUE_TYPE_MAP) {
    return nullptr;
  }
  FlValue* value = fl_value_lookup_string(args, key);
  return value != nullptr && fl_value_get_type(value) == type ? value : nullptr;
}

const gchar* LookupString(FlValue* args, const gchar* key) {
  FlValue* value = Lookup(args, key, FL_VALUE_TYPE_STRING);
  return value != nullptr ? fl_value_get_string(value) : nullptr;
}

std::optional<int32_t> LookupInt32(FlValue* args, const gchar* key) {
  FlValue* value = Lookup(args, key, FL_VALUE_TYPE_INT);
  if (value == nullptr) {
    return std::nullopt;
  }
  // Truncated to 32 bits, as the rectangle is stored.
  return static_cast<int32_t>(fl_value_get_int(value));
}

std::optional<bool> LookupBool(FlValue* args, const gchar* key) {
  FlValue* value = Lookup(args, key, FL_VALUE_TYPE_BOOL);
  if (value == nullptr) {
    return std::nullopt;
  }
  return fl_value_get_bool(value);
}

FlMethodResponse* Success() {
  return FL_METHOD_RESPONSE(fl_method_success_response_new(nullptr));
}

FlMethodResponse* Error(const gchar* code, const gchar* message) {
  return FL_METHOD_RESPONSE(
      fl_method_error_response_new(code, message, nullptr));
}

WebpaneView* LookupView(WebpanePlugin* self, FlValue* args) {
  const gchar* id = LookupString(args, "id");
  if (id == nullptr || self->views == nullptr) {
    return nullptr;
  }
  return static_cast<WebpaneView*>(g_hash_table_lookup(self->views, id));
}

// Called whenever the overlay lays out a child: web views go to their
// rectangle, anything else (the Flutter view) where the overlay puts it.
gboolean GetChildPositionCb(GtkOverlay*,
                            GtkWidget* widget,
                            GdkRectangle* allocation,
                            gpointer data) {
  WebpanePlugin* self = WEBPANE_PLUGIN(data);
  if (self->views == nullptr) {
    return FALSE;
  }
  GHashTableIter iter;
  gpointer value;
  g_hash_table_iter_init(&iter, self->views);
  while (g_hash_table_iter_next(&iter, nullptr, &value)) {
    auto* view = static_cast<WebpaneView*>(value);
    if (GTK_WIDGET(view->web_view) == widget) {
      allocation->x = view->x;
      allocation->y = view->y;
      allocation->width = MAX(view->width, 1);
      allocation->height = MAX(view->height, 1);
      return TRUE;
    }
  }
  return FALSE;
}

// Finds the overlay around the Flutter view once; FALSE when there is none.
gboolean FindOverlay(WebpanePlugin* self) {
  if (self->overlay != nullptr) {
    return TRUE;
  }
  FlView* flutter_view = fl_plugin_registrar_get_view(self->registrar);
  if (flutter_view == nullptr) {
    return FALSE;
  }
  GtkWidget* parent = gtk_widget_get_parent(GTK_WIDGET(flutter_view));
  if (parent == nullptr || !GTK_IS_OVERLAY(parent)) {
    g_warning(
        "webpane: the FlView is not inside a GtkOverlay; the runner in "
        "linux/runner/my_application must add one");
    return FALSE;
  }
  self->overlay = GTK_OVERLAY(parent);
  g_object_add_weak_pointer(G_OBJECT(self->overlay),
                            reinterpret_cast<gpointer*>(&self->overlay));
  g_signal_connect(self->overlay, "get-child-position",
                   G_CALLBACK(GetChildPositionCb), self);
  return TRUE;
}

FlMethodResponse* Attach(WebpanePlugin* self, FlValue* args) {
  const gchar* id = LookupString(args, "id");
  const gchar* url = LookupString(args, "url");
  const gchar* html = LookupString(args, "html");
  if (id == nullptr || (url == nullptr && html == nullptr)) {
    return Error(kBadArgumentsError, kAttachArgumentsMessage);
  }
  if (g_hash_table_contains(self->views, id)) {
    return Error(kDuplicateIdError, kDuplicateIdMessage);
  }
  if (!FindOverlay(self)) {
    return Error(kUnavailableError, kUnavailableMessage);
  }

  WebpaneViewOptions options;
  options.id = id;
  options.user_script = LookupString(args, "userScript");
  options.bridge_name = LookupString(args, "bridgeName");
  options.user_agent = LookupString(args, "userAgent");
  options.x = LookupInt32(args, "x").value_or(0);
  options.y = LookupInt32(args, "y").value_or(0);
  options.width = LookupInt32(args, "width").value_or(1);
  options.height = LookupInt32(args, "height").value_or(1);
  options.navigation_policy =
      LookupBool(args, "navigationPolicy").value_or(false);
  options.media_capture =
      LookupBool(args, "allowsMediaCapture").value_or(false);
  options.javascript_enabled =
      LookupBool(args, "javaScriptEnabled").value_or(true);
  options.allows_clipboard =
      LookupBool(args, "allowsClipboard").value_or(false);
  WebpaneView* view = webpane_view_new(self, options);
  g_hash_table_insert(self->views, g_strdup(id), view);

  GtkWidget* widget = GTK_WIDGET(view->web_view);
  gtk_overlay_add_overlay(self->overlay, widget);
  gtk_overlay_set_overlay_pass_through(self->overlay, widget, FALSE);
  if (LookupBool(args, "visible").value_or(true)) {
    gtk_widget_show(widget);
  }
  webpane_view_load(view, url, html);
  return Success();
}

FlMethodResponse* SetRect(WebpanePlugin* self, FlValue* args) {
  WebpaneView* view = LookupView(self, args);
  if (view == nullptr) {
    return Success();
  }
  view->x = LookupInt32(args, "x").value_or(view->x);
  view->y = LookupInt32(args, "y").value_or(view->y);
  view->width = LookupInt32(args, "width").value_or(view->width);
  view->height = LookupInt32(args, "height").value_or(view->height);
  if (view->web_view != nullptr) {
    gtk_widget_queue_resize(GTK_WIDGET(view->web_view));
  }
  return Success();
}

FlMethodResponse* SetVisible(WebpanePlugin* self, FlValue* args) {
  WebpaneView* view = LookupView(self, args);
  if (view == nullptr || view->web_view == nullptr) {
    return Success();
  }
  GtkWidget* widget = GTK_WIDGET(view->web_view);
  if (LookupBool(args, "visible").value_or(true)) {
    gtk_widget_show(widget);
    gtk_widget_queue_resize(widget);
  } else {
    gtk_widget_hide(widget);
  }
  return Success();
}

// Takes the view out of the table before tearing it down, so nothing the
// teardown sets off can find it half destroyed.
void RemoveView(WebpanePlugin* self, const gchar* id) {
  gpointer key = nullptr;
  gpointer value = nullptr;
  if (self->views != nullptr &&
      g_hash_table_steal_extended(self->views, id, &key, &value)) {
    g_free(key);
    webpane_view_free(static_cast<WebpaneView*>(value));
  }
}

FlMethodResponse* Detach(WebpanePlugin* self, FlValue* args) {
  const gchar* id = LookupString(args, "id");
  if (id == nullptr) {
    return Error(kBadArgumentsError, kDetachArgumentsMessage);
  }
  RemoveView(self, id);
  return Success();
}

FlMethodResponse* BridgeReply(WebpanePlugin* self, FlValue* args) {
  const gchar* request_id = LookupString(args, "requestId");
  if (request_id == nullptr) {
    return Error(kBadArgumentsError, kBridgeReplyArgumentsMessage);
  }
  WebpaneView* view = LookupView(self, args);
  if (view != nullptr) {
    webpane_view_bridge_reply(view, request_id, LookupString(args, "error"),
                              LookupString(args, "result"));
  }
  return Success();
}

// Called for every method call from Dart on the channel.
void HandleMethodCall(FlMethodChannel*, FlMethodCall* call, gpointer data) {
  WebpanePlugin* self = WEBPANE_PLUGIN(data);
  const gchar* method = fl_method_call_get_name(call);
  FlValue* args = fl_method_call_get_args(call);

  g_autoptr(FlMethodResponse) response = nullptr;
  if (strcmp(method, kIsAvailableMethod) == 0) {
    g_autoptr(FlValue) yes = fl_value_new_bool(true);
    response = FL_METHOD_RESPONSE(fl_method_success_response_new(yes));
  } else if (strcmp(method, kAttachMethod) == 0) {
    response = Attach(self, args);
  } else if (strcmp(method, kSetRectMethod) == 0) {
    response = SetRect(self, args);
  } else if (strcmp(method, kSetVisibleMethod) == 0) {
    response = SetVisible(self, args);
  } else if (strcmp(method, kDetachMethod) == 0) {
    response = Detach(self, args);
  } else if (strcmp(method, kBridgeReplyMethod) == 0) {
    response = BridgeReply(self, args);
  } else {
    response = FL_METHOD_RESPONSE(fl_method_not_implemented_response_new());
  }

  g_autoptr(GError) error = nullptr;
  if (!fl_method_call_respond(call, response, &error)) {
    g_warning("webpane: failed to respond: %s",
              error != nullptr ? error->message : "unknown");
  }
}

}  // namespace

static void webpane_plugin_dispose(GObject* object) {
  WebpanePlugin* self = WEBPANE_PLUGIN(object);
  GHashTable* views = static_cast<GHashTable*>(g_steal_pointer(&self->views));
  if (views != nullptr) {
    g_hash_table_destroy(views);
  }
  if (self->overlay != nullptr) {
    g_signal_handlers_disconnect_by_data(self->overlay, self);
    g_object_remove_weak_pointer(G_OBJECT(self->overlay),
                                 reinterpret_cast<gpointer*>(&self->overlay));
    self->overlay = nullptr;
  }
  g_clear_object(&self->channel);
  g_clear_object(&self->registrar);
  G_OBJECT_CLASS(webpane_plugin_parent_class)->dispose(object);
}

static void webpane_plugin_class_init(WebpanePluginClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = webpane_plugin_dispose;
}

static void webpane_plugin_init(WebpanePlugin* self) {
  self->views = g_hash_table_new_full(
      g_str_hash, g_str_equal, g_free,
      reinterpret_cast<GDestroyNotify>(webpane_view_free));
}

FlMethodChannel* webpane_plugin_get_channel(WebpanePlugin* self) {
  g_return_val_if_fail(WEBPANE_IS_PLUGIN(self), nullptr);
  return self->channel;
}

void webpane_plugin_register_with_registrar(FlPluginRegistrar* registrar) {
  g_return_if_fail(FL_IS_PLUGIN_REGISTRAR(registrar));
  WebpanePlugin* plugin =
      WEBPANE_PLUGIN(g_object_new(webpane_plugin_get_type(), nullptr));
  plugin->registrar = FL_PLUGIN_REGISTRAR(g_object_ref(registrar));

  g_autoptr(FlStandardMethodCodec) codec = fl_standard_method_codec_new();
  plugin->channel =
      fl_method_channel_new(fl_plugin_registrar_get_messenger(registrar),
                            kChannelName, FL_METHOD_CODEC(codec));
  // The handler's reference keeps the plug-in alive for as long as the
  // channel serves it.
  fl_method_channel_set_method_call_handler(
      plugin->channel, HandleMethodCall, g_object_ref(plugin), g_object_unref);
  g_object_unref(plugin);
}
