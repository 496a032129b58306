// The plug-in object as the view records see it. Internal to the library.
#ifndef PLUGINS_WEBPANE_WEBPANE_PLUGIN_PRIVATE_H_
#define PLUGINS_WEBPANE_WEBPANE_PLUGIN_PRIVATE_H_

#include <flutter_linux/flutter_linux.h>

G_BEGIN_DECLS

G_DECLARE_FINAL_TYPE(WebpanePlugin, webpane_plugin, WEBPANE, PLUGIN, GObject)

// webpane_plugin_get_channel returns the plug-in's method channel, or NULL
// once the plug-in has let go of it (during dispose). Borrowed.
FlMethodChannel* webpane_plugin_get_channel(WebpanePlugin* plugin);

G_END_DECLS

#endif  // PLUGINS_WEBPANE_WEBPANE_PLUGIN_PRIVATE_H_
