#ifndef PLUGINS_WEBPANE_INCLUDE_WEBPANE_WEBPANE_PLUGIN_H_
#define PLUGINS_WEBPANE_INCLUDE_WEBPANE_WEBPANE_PLUGIN_H_

#include <flutter_linux/flutter_linux.h>

G_BEGIN_DECLS

// webpane_plugin_register_with_registrar registers the web-view plug-in
// with the registrar the host obtained under the name "WebpanePlugin".
__attribute__((visibility("default"))) void
webpane_plugin_register_with_registrar(FlPluginRegistrar* registrar);

G_END_DECLS

#endif  // PLUGINS_WEBPANE_INCLUDE_WEBPANE_WEBPANE_PLUGIN_H_
