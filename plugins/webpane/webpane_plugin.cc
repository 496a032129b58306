// Placeholder registration of the web-view plug-in: it registers nothing
// yet, so the host can link and register it like every other plug-in.
#include "webpane/webpane_plugin.h"

void webpane_plugin_register_with_registrar(FlPluginRegistrar* registrar) {
  g_return_if_fail(FL_IS_PLUGIN_REGISTRAR(registrar));
}
