// webpane_plain_host: a window whose Flutter view is its direct child, with
// no GtkOverlay around it, and the web-view plug-in registered on it. The
// end-to-end tests use it to see the plug-in refuse to embed web views
// there. The arguments after the program name are the Dart entrypoint
// arguments.
#include <flutter_linux/flutter_linux.h>

#include "webpane/webpane_plugin.h"

namespace {

// Called when the view has its first frame: now the window may appear.
void FirstFrameCb(GtkWidget* window, FlView*) {
  gtk_widget_show(window);
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "webpane_plain_host");
  gtk_window_set_default_size(GTK_WINDOW(window), 320, 200);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

  g_autoptr(FlDartProject) project = fl_dart_project_new();
  fl_dart_project_set_dart_entrypoint_arguments(project, argv + 1);
  FlView* view = fl_view_new(project);
  gtk_widget_show(GTK_WIDGET(view));
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
  g_signal_connect_swapped(view, "first-frame", G_CALLBACK(FirstFrameCb),
                           window);
  gtk_widget_realize(GTK_WIDGET(view));

  g_autoptr(FlPluginRegistrar) registrar =
      fl_plugin_registry_get_registrar_for_plugin(FL_PLUGIN_REGISTRY(view),
                                                  "WebpanePlugin");
  webpane_plugin_register_with_registrar(registrar);

  gtk_main();
  return 0;
}
