// fl_echo_host: the smallest host of a Flutter view, for end-to-end tests of
// the stand-in's socket relay. Channel "fl_test/echo":
//   "echo"      answers with its arguments
//   "callDart"  {"method": m, "args": a}: answers null at once, then calls m
//               with a on the same channel and reports Dart's reply with
//               "dartAnswered" {"kind": ..., "value"|"code"|"message"|
//               "details": ...}
//   "quit"      answers true and ends the program
// Anything else is not implemented. The arguments after the program name are
// the Dart entrypoint arguments.
#include <flutter_linux/flutter_linux.h>

namespace {

constexpr char kChannel[] = "fl_test/echo";

// Called with Dart's reply to a call the host made.
void DartRepliedCb(GObject* source, GAsyncResult* result, gpointer data) {
  FlMethodChannel* channel = FL_METHOD_CHANNEL(source);
  g_autoptr(GError) error = nullptr;
  g_autoptr(FlMethodResponse) response =
      fl_method_channel_invoke_method_finish(channel, result, &error);
  g_autoptr(FlValue) report = fl_value_new_map();
  if (response == nullptr) {
    fl_value_set_string_take(report, "kind", fl_value_new_string("failed"));
    fl_value_set_string_take(report, "message",
                             fl_value_new_string(error->message));
  } else if (FL_IS_METHOD_SUCCESS_RESPONSE(response)) {
    fl_value_set_string_take(report, "kind", fl_value_new_string("success"));
    FlValue* v = fl_method_success_response_get_result(
        FL_METHOD_SUCCESS_RESPONSE(response));
    fl_value_set_string(report, "value", v);
  } else if (FL_IS_METHOD_ERROR_RESPONSE(response)) {
    FlMethodErrorResponse* e = FL_METHOD_ERROR_RESPONSE(response);
    fl_value_set_string_take(report, "kind", fl_value_new_string("error"));
    fl_value_set_string_take(
        report, "code",
        fl_value_new_string(fl_method_error_response_get_code(e)));
    const gchar* msg = fl_method_error_response_get_message(e);
    fl_value_set_string_take(
        report, "message",
        msg ? fl_value_new_string(msg) : fl_value_new_null());
    FlValue* details = fl_method_error_response_get_details(e);
    fl_value_set_string_take(
        report, "details",
        details ? fl_value_ref(details) : fl_value_new_null());
  } else {
    fl_value_set_string_take(report, "kind",
                             fl_value_new_string("notImplemented"));
  }
  fl_method_channel_invoke_method(channel, "dartAnswered", report, nullptr,
                                  nullptr, nullptr);
}

// Called for every method call from Dart on the echo channel.
void MethodCallCb(FlMethodChannel* channel, FlMethodCall* call, gpointer data) {
  const gchar* name = fl_method_call_get_name(call);
  FlValue* args = fl_method_call_get_args(call);
  if (g_strcmp0(name, "echo") == 0) {
    fl_method_call_respond_success(call, args, nullptr);
  } else if (g_strcmp0(name, "callDart") == 0 &&
             fl_value_get_type(args) == FL_VALUE_TYPE_MAP) {
    FlValue* method = fl_value_lookup_string(args, "method");
    if (method == nullptr ||
        fl_value_get_type(method) != FL_VALUE_TYPE_STRING) {
      fl_method_call_respond_error(call, "bad-args", "method missing", nullptr,
                                   nullptr);
      return;
    }
    fl_method_call_respond_success(call, nullptr, nullptr);
    fl_method_channel_invoke_method(channel, fl_value_get_string(method),
                                    fl_value_lookup_string(args, "args"),
                                    nullptr, DartRepliedCb, nullptr);
  } else if (g_strcmp0(name, "quit") == 0) {
    g_autoptr(FlValue) yes = fl_value_new_bool(true);
    fl_method_call_respond_success(call, yes, nullptr);
    g_idle_add(
        [](gpointer) -> gboolean {
          gtk_main_quit();
          return G_SOURCE_REMOVE;
        },
        nullptr);
  } else {
    fl_method_call_respond_not_implemented(call, nullptr);
  }
}

// Called when the view has its first frame: now the window may appear.
void FirstFrameCb(GtkWidget* window, FlView* view) {
  gtk_widget_show(window);
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "fl_echo_host");
  gtk_window_set_default_size(GTK_WINDOW(window), 320, 200);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

  g_autoptr(FlDartProject) project = fl_dart_project_new();
  fl_dart_project_set_dart_entrypoint_arguments(project, argv + 1);
  FlView* view = fl_view_new(project);
  GdkRGBA background;
  gdk_rgba_parse(&background, "#204060");
  fl_view_set_background_color(view, &background);
  gtk_widget_show(GTK_WIDGET(view));
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
  g_signal_connect_swapped(view, "first-frame", G_CALLBACK(FirstFrameCb),
                           window);
  gtk_widget_realize(GTK_WIDGET(view));

  FlBinaryMessenger* messenger =
      fl_engine_get_binary_messenger(fl_view_get_engine(view));
  g_autoptr(FlStandardMethodCodec) codec = fl_standard_method_codec_new();
  g_autoptr(FlMethodChannel) channel =
      fl_method_channel_new(messenger, kChannel, FL_METHOD_CODEC(codec));
  fl_method_channel_set_method_call_handler(channel, MethodCallCb, nullptr,
                                            nullptr);
  g_autoptr(FlPluginRegistrar) registrar =
      fl_plugin_registry_get_registrar_for_plugin(FL_PLUGIN_REGISTRY(view),
                                                  "EchoPlugin");

  gtk_main();
  return 0;
}
