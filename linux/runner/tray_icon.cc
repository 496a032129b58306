#include "tray_icon.h"

#include <unistd.h>

#include <cstring>

#include "service_channel.h"
#include "tray_icon_private.h"

namespace {

constexpr char kChannelName[] = "com.velmo.pro/tray";
constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kMenuPath[] = "/StatusNotifierItem/Menu";
constexpr char kMenuInterface[] = "com.canonical.dbusmenu";
constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
constexpr char kWatcherInterface[] = "org.kde.StatusNotifierWatcher";
constexpr char kTitle[] = "Velmo Messenger";
constexpr char kIsAvailableMethod[] = "isAvailable";
constexpr char kRevealMethod[] = "reveal";
constexpr char kAvailabilityChangedMethod[] = "onAvailabilityChanged";
constexpr char kDefaultId[] = "velmo";
constexpr char kShowLabel[] = "Show Velmo";
constexpr char kQuitLabel[] = "Quit Velmo";
constexpr int kIconSize = 64;
constexpr gint64 kMaxCount = 9999;
constexpr guint32 kLayoutRevision = 1;
constexpr guint32 kMenuVersion = 3;

// Menu item ids, and the root's children in display order.
constexpr gint32 kRootId = 0;
constexpr gint32 kShowId = 1;
constexpr gint32 kQuitSeparatorId = 2;
constexpr gint32 kQuitId = 3;
constexpr gint32 kTitleId = 4;
constexpr gint32 kTitleSeparatorId = 5;
constexpr gint32 kRootChildren[] = {kTitleId, kTitleSeparatorId, kShowId,
                                    kQuitSeparatorId, kQuitId};
// What "GetGroupProperties" lists when asked for no particular ids.
constexpr gint32 kAllItems[] = {kRootId, kTitleId,         kTitleSeparatorId,
                                kShowId, kQuitSeparatorId, kQuitId};

constexpr char kIntrospectionXml[] = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="Activate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="SecondaryActivate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="ContextMenu">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Scroll">
      <arg name="delta" type="i" direction="in"/>
      <arg name="orientation" type="s" direction="in"/>
    </method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus">
      <arg name="status" type="s"/>
    </signal>
  </interface>
  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg name="parentId" type="i" direction="in"/>
      <arg name="recursionDepth" type="i" direction="in"/>
      <arg name="propertyNames" type="as" direction="in"/>
      <arg name="revision" type="u" direction="out"/>
      <arg name="layout" type="(ia{sv}av)" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg name="ids" type="ai" direction="in"/>
      <arg name="propertyNames" type="as" direction="in"/>
      <arg name="properties" type="a(ia{sv})" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg name="id" type="i" direction="in"/>
      <arg name="name" type="s" direction="in"/>
      <arg name="value" type="v" direction="out"/>
    </method>
    <method name="Event">
      <arg name="id" type="i" direction="in"/>
      <arg name="eventId" type="s" direction="in"/>
      <arg name="data" type="v" direction="in"/>
      <arg name="timestamp" type="u" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg name="events" type="a(isvu)" direction="in"/>
      <arg name="idErrors" type="ai" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg name="id" type="i" direction="in"/>
      <arg name="needUpdate" type="b" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg name="ids" type="ai" direction="in"/>
      <arg name="updatesNeeded" type="ai" direction="out"/>
      <arg name="idErrors" type="ai" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg name="updatedProps" type="a(ia{sv})"/>
      <arg name="removedProps" type="a(ias)"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg name="revision" type="u"/>
      <arg name="parent" type="i"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg name="id" type="i"/>
      <arg name="timestamp" type="u"/>
    </signal>
  </interface>
</node>)xml";

GtkWindow* g_window = nullptr;
gchar* g_app_id = nullptr;
FlMethodChannel* g_channel = nullptr;
bool g_channel_open = false;
GDBusConnection* g_connection = nullptr;
GDBusNodeInfo* g_node_info = nullptr;
guint g_item_reg_id = 0;
guint g_menu_reg_id = 0;
gchar* g_item_bus_name = nullptr;
guint g_own_name_id = 0;
guint g_watch_name_id = 0;
bool g_name_owned = false;
bool g_watcher_present = false;
bool g_available = false;
gint64 g_unread_count = 0;
GdkPixbuf* g_icon_pixbuf = nullptr;
gchar* g_icon_name = nullptr;
// The quit click's pending window destruction; 0 when none.
guint g_destroy_idle_id = 0;
// Bumped at shutdown, so a registration reply that arrives after it (the
// call has no cancellable) is recognised as stale.
guint g_generation = 1;

const char* MessageOf(const GError* error) {
  return error != nullptr ? error->message : "unknown";
}

void RevealWindow() {
  if (g_window == nullptr) {
    return;
  }
  gtk_widget_show(GTK_WIDGET(g_window));
  gtk_window_deiconify(g_window);
  gtk_window_present(g_window);
}

void SetAvailable(bool available) {
  if (available == g_available) {
    return;
  }
  g_available = available;
  g_message("tray_icon: StatusNotifierItem %s",
            available ? "registered; close-to-hide enabled"
                      : "unavailable; close-to-quit");
  if (g_channel != nullptr && g_channel_open) {
    g_autoptr(FlValue) value = fl_value_new_bool(available);
    fl_method_channel_invoke_method(g_channel, kAvailabilityChangedMethod,
                                    value, nullptr, nullptr, nullptr);
  }
}

// ------------------------------------------------------------------ menu

GVariant* MenuItemProperties(gint32 id) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
  if (id == kRootId) {
    g_variant_builder_add(&builder, "{sv}", "children-display",
                          g_variant_new_string("submenu"));
    return g_variant_builder_end(&builder);
  }
  bool enabled = true;
  switch (id) {
    case kShowId:
      g_variant_builder_add(&builder, "{sv}", "label",
                            g_variant_new_string(kShowLabel));
      break;
    case kQuitId:
      g_variant_builder_add(&builder, "{sv}", "label",
                            g_variant_new_string(kQuitLabel));
      break;
    case kTitleId: {
      g_autofree gchar* title = tray_icon_build_title(g_unread_count);
      g_variant_builder_add(&builder, "{sv}", "label",
                            g_variant_new_string(title));
      enabled = false;  // the title line is not clickable
      break;
    }
    case kQuitSeparatorId:
    case kTitleSeparatorId:
      g_variant_builder_add(&builder, "{sv}", "type",
                            g_variant_new_string("separator"));
      break;
    default:
      break;
  }
  g_variant_builder_add(&builder, "{sv}", "enabled",
                        g_variant_new_boolean(enabled));
  g_variant_builder_add(&builder, "{sv}", "visible",
                        g_variant_new_boolean(TRUE));
  return g_variant_builder_end(&builder);
}

GVariant* MenuItemLayout(gint32 id) {
  GVariantBuilder children;
  g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
  if (id == kRootId) {
    for (gint32 child : kRootChildren) {
      g_variant_builder_add(&children, "v", MenuItemLayout(child));
    }
  }
  return g_variant_new("(i@a{sv}av)", id, MenuItemProperties(id), &children);
}

gboolean DestroyWindowIdle(gpointer user_data) {
  g_destroy_idle_id = 0;
  if (g_connection != nullptr) {
    // The click's reply is queued by now; make sure it has left before the
    // application starts to end.
    g_dbus_connection_flush_sync(g_connection, nullptr, nullptr);
  }
  if (g_window != nullptr) {
    gtk_widget_destroy(GTK_WIDGET(g_window));
  }
  return G_SOURCE_REMOVE;
}

// Acts on one menu event, as "Event" and each entry of "EventGroup" do.
void MenuEvent(gint32 id, const gchar* event_id) {
  if (strcmp(event_id, "clicked") != 0) {
    return;
  }
  if (id == kShowId) {
    RevealWindow();
  } else if (id == kQuitId && g_window != nullptr && g_destroy_idle_id == 0) {
    // From the idle queue, so the click's reply leaves before the window
    // (and with it the application) goes.
    g_destroy_idle_id = g_idle_add(DestroyWindowIdle, nullptr);
  }
}

GVariant* EmptyIntArray() {
  return g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0);
}

// Called for every method call on the menu object.
void MenuMethodCall(GDBusConnection* connection,
                    const gchar* sender,
                    const gchar* object_path,
                    const gchar* interface_name,
                    const gchar* method_name,
                    GVariant* parameters,
                    GDBusMethodInvocation* invocation,
                    gpointer user_data) {
  GError* error = nullptr;
  GVariant* reply = tray_menu_handle_call(method_name, parameters, &error);
  if (error != nullptr) {
    g_dbus_method_invocation_take_error(invocation, error);
    return;
  }
  g_dbus_method_invocation_return_value(invocation, reply);
}

// Called for every property read on the menu object.
GVariant* MenuGetProperty(GDBusConnection* connection,
                          const gchar* sender,
                          const gchar* object_path,
                          const gchar* interface_name,
                          const gchar* property_name,
                          GError** error,
                          gpointer user_data) {
  if (strcmp(property_name, "Version") == 0) {
    return g_variant_new_uint32(kMenuVersion);
  }
  if (strcmp(property_name, "TextDirection") == 0) {
    return g_variant_new_string(
        gtk_widget_get_default_direction() == GTK_TEXT_DIR_RTL ? "rtl" : "ltr");
  }
  if (strcmp(property_name, "Status") == 0) {
    return g_variant_new_string("normal");
  }
  if (strcmp(property_name, "IconThemePath") == 0) {
    return g_variant_new_strv(nullptr, 0);
  }
  g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "no property %s",
              property_name);
  return nullptr;
}

// ------------------------------------------------------------------ item

// Called for every method call on the item object.
void ItemMethodCall(GDBusConnection* connection,
                    const gchar* sender,
                    const gchar* object_path,
                    const gchar* interface_name,
                    const gchar* method_name,
                    GVariant* parameters,
                    GDBusMethodInvocation* invocation,
                    gpointer user_data) {
  if (strcmp(method_name, "Activate") == 0 ||
      strcmp(method_name, "SecondaryActivate") == 0) {
    RevealWindow();
  }
  // "ContextMenu" and "Scroll": hosts show the menu themselves.
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

// Called for every property read on the item object.
GVariant* ItemGetProperty(GDBusConnection* connection,
                          const gchar* sender,
                          const gchar* object_path,
                          const gchar* interface_name,
                          const gchar* property_name,
                          GError** error,
                          gpointer user_data) {
  if (strcmp(property_name, "Category") == 0) {
    return g_variant_new_string("Communications");
  }
  if (strcmp(property_name, "Id") == 0) {
    return g_variant_new_string(g_app_id != nullptr ? g_app_id : kDefaultId);
  }
  if (strcmp(property_name, "Title") == 0) {
    g_autofree gchar* title = tray_icon_build_title(g_unread_count);
    return g_variant_new_string(title);
  }
  if (strcmp(property_name, "Status") == 0) {
    return g_variant_new_string("Active");
  }
  if (strcmp(property_name, "WindowId") == 0) {
    return g_variant_new_int32(0);
  }
  if (strcmp(property_name, "IconName") == 0) {
    return g_variant_new_string(g_icon_name != nullptr ? g_icon_name : "");
  }
  if (strcmp(property_name, "IconPixmap") == 0) {
    return tray_icon_pixmap(g_icon_pixbuf);
  }
  if (strcmp(property_name, "OverlayIconName") == 0 ||
      strcmp(property_name, "AttentionIconName") == 0) {
    return g_variant_new_string("");
  }
  if (strcmp(property_name, "ToolTip") == 0) {
    g_autofree gchar* title = tray_icon_build_title(g_unread_count);
    return g_variant_new("(s@a(iiay)ss)", "", tray_icon_pixmap(nullptr), title,
                         "");
  }
  if (strcmp(property_name, "ItemIsMenu") == 0) {
    return g_variant_new_boolean(FALSE);
  }
  if (strcmp(property_name, "Menu") == 0) {
    return g_variant_new_object_path(kMenuPath);
  }
  g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "no property %s",
              property_name);
  return nullptr;
}

const GDBusInterfaceVTable kItemVTable = {ItemMethodCall,
                                          ItemGetProperty,
                                          nullptr,
                                          {}};
const GDBusInterfaceVTable kMenuVTable = {MenuMethodCall,
                                          MenuGetProperty,
                                          nullptr,
                                          {}};

// --------------------------------------------------- watcher registration

// Called with the watcher's answer to RegisterStatusNotifierItem.
void OnRegisterItemReply(GObject* source,
                         GAsyncResult* result,
                         gpointer user_data) {
  g_autoptr(GError) error = nullptr;
  g_autoptr(GVariant) reply =
      g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (GPOINTER_TO_UINT(user_data) != g_generation) {
    return;  // sent before a shutdown; that set-up is gone
  }
  if (reply == nullptr) {
    g_warning("tray_icon: RegisterStatusNotifierItem failed: %s",
              MessageOf(error));
    SetAvailable(false);
    return;
  }
  // The name or the watcher may have gone while the call was under way.
  SetAvailable(g_name_owned && g_watcher_present);
}

void RegisterWithWatcher() {
  g_dbus_connection_call(g_connection, kWatcherName, kWatcherPath,
                         kWatcherInterface, "RegisterStatusNotifierItem",
                         g_variant_new("(s)", g_item_bus_name), nullptr,
                         G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                         OnRegisterItemReply, GUINT_TO_POINTER(g_generation));
}

// Called when the item's bus name becomes ours.
void OnNameAcquired(GDBusConnection* connection,
                    const gchar* name,
                    gpointer user_data) {
  g_name_owned = true;
  if (g_connection != nullptr && g_watcher_present &&
      g_item_bus_name != nullptr) {
    RegisterWithWatcher();
  }
}

// Called when the item's bus name is lost or cannot be had.
void OnNameLost(GDBusConnection* connection,
                const gchar* name,
                gpointer user_data) {
  g_name_owned = false;
  SetAvailable(false);
}

// Called when the tray watcher appears on the bus.
void OnWatcherAppeared(GDBusConnection* connection,
                       const gchar* name,
                       const gchar* name_owner,
                       gpointer user_data) {
  g_watcher_present = true;
  if (g_connection != nullptr && g_name_owned && g_item_bus_name != nullptr) {
    RegisterWithWatcher();
  }
}

// Called when the tray watcher leaves the bus (and once at the start of the
// watch when there is none).
void OnWatcherVanished(GDBusConnection* connection,
                       const gchar* name,
                       gpointer user_data) {
  g_watcher_present = false;
  SetAvailable(false);
}

// ------------------------------------------------------------- channel

// Called for every method call from Dart on the tray channel.
void HandleMethodCall(FlMethodChannel* channel,
                      FlMethodCall* method_call,
                      gpointer user_data) {
  const gchar* name = fl_method_call_get_name(method_call);
  g_autoptr(FlMethodResponse) response = nullptr;
  if (strcmp(name, kIsAvailableMethod) == 0) {
    g_autoptr(FlValue) result = fl_value_new_bool(g_available);
    response = FL_METHOD_RESPONSE(fl_method_success_response_new(result));
  } else if (strcmp(name, kRevealMethod) == 0) {
    RevealWindow();
    response = FL_METHOD_RESPONSE(fl_method_success_response_new(nullptr));
  } else {
    response = FL_METHOD_RESPONSE(fl_method_not_implemented_response_new());
  }
  g_autoptr(GError) error = nullptr;
  if (!fl_method_call_respond(method_call, response, &error)) {
    g_warning("tray_icon: failed to respond to method call: %s",
              MessageOf(error));
  }
}

void ForgetWindow() {
  if (g_window != nullptr) {
    g_object_remove_weak_pointer(G_OBJECT(g_window),
                                 reinterpret_cast<gpointer*>(&g_window));
    g_window = nullptr;
  }
}

// The splash logo of the asset bundle beside the executable, scaled into
// the tray's box. A bundle without it simply has no pixmap.
void LoadTrayImage() {
  g_autofree gchar* exe = g_file_read_link("/proc/self/exe", nullptr);
  if (exe == nullptr) {
    return;
  }
  g_autofree gchar* dir = g_path_get_dirname(exe);
  g_autofree gchar* path =
      g_build_filename(dir, "data", "flutter_assets", "assets", "icons",
                       "splash_logo.png", nullptr);
  if (!g_file_test(path, G_FILE_TEST_EXISTS)) {
    return;
  }
  g_clear_object(&g_icon_pixbuf);
  g_autoptr(GError) error = nullptr;
  g_icon_pixbuf = gdk_pixbuf_new_from_file_at_scale(path, kIconSize, kIconSize,
                                                    TRUE, &error);
  if (g_icon_pixbuf == nullptr) {
    g_warning("tray_icon: could not load %s: %s", path, MessageOf(error));
  }
}

guint ExportObject(const gchar* path,
                   const gchar* interface_name,
                   const GDBusInterfaceVTable* vtable) {
  GDBusInterfaceInfo* info =
      g_dbus_node_info_lookup_interface(g_node_info, interface_name);
  g_autoptr(GError) error = nullptr;
  guint id = g_dbus_connection_register_object(g_connection, path, info, vtable,
                                               nullptr, nullptr, &error);
  if (id == 0) {
    g_warning("tray_icon: could not export %s: %s", interface_name,
              MessageOf(error));
  }
  return id;
}

// Exports the objects and starts tracking the bus name and the watcher.
void SetUpBus() {
  g_autoptr(GError) error = nullptr;
  g_connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (g_connection == nullptr) {
    g_debug("tray_icon: no session bus (%s); tray disabled for this session",
            MessageOf(error));
    return;
  }

  GtkIconTheme* theme = gtk_icon_theme_get_default();
  if (theme != nullptr && gtk_icon_theme_has_icon(theme, g_app_id)) {
    g_free(g_icon_name);
    g_icon_name = g_strdup(g_app_id);
  }
  LoadTrayImage();

  g_node_info = g_dbus_node_info_new_for_xml(kIntrospectionXml, &error);
  if (g_node_info == nullptr) {
    g_warning("tray_icon: bad introspection XML: %s", MessageOf(error));
    g_clear_object(&g_connection);
    return;
  }
  g_item_reg_id = ExportObject(kItemPath, kItemInterface, &kItemVTable);
  if (g_item_reg_id == 0) {
    return;
  }
  g_menu_reg_id = ExportObject(kMenuPath, kMenuInterface, &kMenuVTable);
  if (g_menu_reg_id == 0) {
    return;
  }

  g_item_bus_name =
      g_strdup_printf("org.kde.StatusNotifierItem-%d-1", getpid());
  g_own_name_id = g_bus_own_name_on_connection(
      g_connection, g_item_bus_name, G_BUS_NAME_OWNER_FLAGS_NONE,
      OnNameAcquired, OnNameLost, nullptr, nullptr);
  g_watch_name_id = g_bus_watch_name_on_connection(
      g_connection, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
      OnWatcherAppeared, OnWatcherVanished, nullptr, nullptr);
}

}  // namespace

gchar* tray_icon_build_title(gint64 count) {
  if (count <= 0) {
    return g_strdup(kTitle);
  }
  return g_strdup_printf("%s \u2014 %" G_GINT64_FORMAT " unread", kTitle,
                         count);
}

GVariant* tray_icon_pixmap(GdkPixbuf* pixbuf) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
  if (pixbuf != nullptr) {
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
    const gsize out_len = static_cast<gsize>(width) * height * 4;
    guint8* out = static_cast<guint8*>(g_malloc(out_len));
    guint8* o = out;
    for (int row = 0; row < height; row++) {
      const guint8* in = pixels + static_cast<gsize>(row) * stride;
      for (int column = 0; column < width; column++, in += channels) {
        // ARGB32 in network byte order; images without alpha are opaque.
        *o++ = channels == 4 ? in[3] : 255;
        *o++ = in[0];
        *o++ = in[1];
        *o++ = in[2];
      }
    }
    g_variant_builder_add(
        &builder, "(ii@ay)", width, height,
        g_variant_new_from_data(G_VARIANT_TYPE_BYTESTRING, out, out_len, TRUE,
                                g_free, out));
  }
  return g_variant_builder_end(&builder);
}

void tray_icon_set_pixbuf(GdkPixbuf* pixbuf) {
  GdkPixbuf* old = g_icon_pixbuf;
  g_icon_pixbuf =
      pixbuf != nullptr ? GDK_PIXBUF(g_object_ref(pixbuf)) : nullptr;
  g_clear_object(&old);
}

GVariant* tray_menu_handle_call(const gchar* method,
                                GVariant* parameters,
                                GError** error) {
  if (strcmp(method, "GetLayout") == 0) {
    gint32 parent = 0;
    g_variant_get_child(parameters, 0, "i", &parent);
    return g_variant_new("(u@(ia{sv}av))", kLayoutRevision,
                         MenuItemLayout(parent));
  }
  if (strcmp(method, "GetGroupProperties") == 0) {
    g_autoptr(GVariant) ids = g_variant_get_child_value(parameters, 0);
    gsize num_ids = 0;
    const gint32* id_list = static_cast<const gint32*>(
        g_variant_get_fixed_array(ids, &num_ids, sizeof(gint32)));
    if (num_ids == 0) {
      id_list = kAllItems;
      num_ids = G_N_ELEMENTS(kAllItems);
    }
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(ia{sv})"));
    for (gsize i = 0; i < num_ids; i++) {
      g_variant_builder_add(&builder, "(i@a{sv})", id_list[i],
                            MenuItemProperties(id_list[i]));
    }
    return g_variant_new("(a(ia{sv}))", &builder);
  }
  if (strcmp(method, "GetProperty") == 0) {
    gint32 id = 0;
    const gchar* name = nullptr;
    g_variant_get(parameters, "(i&s)", &id, &name);
    g_autoptr(GVariant) properties = g_variant_ref_sink(MenuItemProperties(id));
    g_autoptr(GVariant) value =
        g_variant_lookup_value(properties, name, nullptr);
    if (value == nullptr) {
      g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                  "no property %s on item %d", name, id);
      return nullptr;
    }
    return g_variant_new("(v)", value);
  }
  if (strcmp(method, "Event") == 0) {
    gint32 id = 0;
    const gchar* event_id = nullptr;
    g_variant_get(parameters, "(i&svu)", &id, &event_id, nullptr, nullptr);
    MenuEvent(id, event_id);
    return nullptr;
  }
  if (strcmp(method, "EventGroup") == 0) {
    // Some panels deliver every click this way, so each event counts as if
    // it had come alone.
    g_autoptr(GVariantIter) events = nullptr;
    g_variant_get(parameters, "(a(isvu))", &events);
    gint32 id = 0;
    const gchar* event_id = nullptr;
    while (g_variant_iter_loop(events, "(i&svu)", &id, &event_id, nullptr,
                               nullptr)) {
      MenuEvent(id, event_id);
    }
    return g_variant_new("(@ai)", EmptyIntArray());
  }
  if (strcmp(method, "AboutToShow") == 0) {
    return g_variant_new("(b)", FALSE);
  }
  if (strcmp(method, "AboutToShowGroup") == 0) {
    return g_variant_new("(@ai@ai)", EmptyIntArray(), EmptyIntArray());
  }
  g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
              "unsupported dbusmenu method %s", method);
  return nullptr;
}

void tray_icon_register(FlBinaryMessenger* messenger,
                        GtkWindow* window,
                        const gchar* app_id) {
  if (messenger == nullptr || window == nullptr || app_id == nullptr) {
    return;
  }
  ForgetWindow();
  g_window = window;
  g_object_add_weak_pointer(G_OBJECT(g_window),
                            reinterpret_cast<gpointer*>(&g_window));
  g_free(g_app_id);
  g_app_id = g_strdup(app_id);

  service_channel_close(&g_channel, &g_channel_open);
  g_channel = service_channel_open(messenger, kChannelName, HandleMethodCall,
                                   &g_channel_open);

  if (g_connection == nullptr) {
    SetUpBus();
  }
}

void tray_icon_set_unread_count(gint64 count) {
  const gint64 clamped = CLAMP(count, 0, kMaxCount);
  if (clamped == g_unread_count) {
    return;
  }
  g_unread_count = clamped;
  // Hosts that cannot hear us read the new title when they next look.
  if (!g_available || g_connection == nullptr) {
    return;
  }
  g_dbus_connection_emit_signal(g_connection, nullptr, kItemPath,
                                kItemInterface, "NewTitle", nullptr, nullptr);
  g_dbus_connection_emit_signal(g_connection, nullptr, kItemPath,
                                kItemInterface, "NewToolTip", nullptr, nullptr);
  GVariantBuilder updated;
  g_variant_builder_init(&updated, G_VARIANT_TYPE("a(ia{sv})"));
  g_variant_builder_add(&updated, "(i@a{sv})", kTitleId,
                        MenuItemProperties(kTitleId));
  g_dbus_connection_emit_signal(
      g_connection, nullptr, kMenuPath, kMenuInterface,
      "ItemsPropertiesUpdated",
      g_variant_new("(a(ia{sv})@a(ias))", &updated,
                    g_variant_new_array(G_VARIANT_TYPE("(ias)"), nullptr, 0)),
      nullptr);
}

gboolean tray_icon_is_available(void) {
  return g_available;
}

void tray_icon_shutdown(void) {
  g_generation++;
  if (g_watch_name_id != 0) {
    g_bus_unwatch_name(g_watch_name_id);
    g_watch_name_id = 0;
  }
  if (g_own_name_id != 0) {
    g_bus_unown_name(g_own_name_id);
    g_own_name_id = 0;
  }
  if (g_connection != nullptr) {
    if (g_item_reg_id != 0) {
      g_dbus_connection_unregister_object(g_connection, g_item_reg_id);
      g_item_reg_id = 0;
    }
    if (g_menu_reg_id != 0) {
      g_dbus_connection_unregister_object(g_connection, g_menu_reg_id);
      g_menu_reg_id = 0;
    }
  }
  service_channel_close(&g_channel, &g_channel_open);
  g_clear_object(&g_connection);
  g_clear_object(&g_icon_pixbuf);
  g_clear_pointer(&g_node_info, g_dbus_node_info_unref);
  g_clear_pointer(&g_app_id, g_free);
  g_clear_pointer(&g_item_bus_name, g_free);
  g_clear_pointer(&g_icon_name, g_free);
  if (g_destroy_idle_id != 0) {
    g_source_remove(g_destroy_idle_id);
    g_destroy_idle_id = 0;
  }
  ForgetWindow();
  g_name_owned = false;
  g_watcher_present = false;
  g_available = false;
  g_unread_count = 0;
}
