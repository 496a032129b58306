// FlView: the widget that shows the Dart side's frames. The stand-in's only
// "frame" is its background colour, produced once the engine has started.
#include <flutter_linux/flutter_linux.h>

#include "fl_private.h"

struct _FlView {
  GtkBox parent_instance;
  FlEngine* engine;
  GtkWidget* drawing_area;  // owned by the box
  GdkRGBA background;
  gboolean first_frame_requested;
  gboolean first_frame_emitted;
  GtkWidget* hooked_toplevel;  // weak pointer
  gulong delete_event_handler;
};

enum { kSignalFirstFrame, kSignalCount };
static guint fl_view_signals[kSignalCount];

static void fl_view_plugin_registry_iface_init(
    FlPluginRegistryInterface* iface);

G_DEFINE_TYPE_WITH_CODE(
    FlView,
    fl_view,
    GTK_TYPE_BOX,
    G_IMPLEMENT_INTERFACE(fl_plugin_registry_get_type(),
                          fl_view_plugin_registry_iface_init))

static FlPluginRegistrar* view_get_registrar_for_plugin(
    FlPluginRegistry* registry,
    const gchar* name) {
  FlView* self = FL_VIEW(registry);
  fl_engine_note_registrar(self->engine, name);
  return fl_plugin_registrar_new(self,
                                 fl_engine_get_binary_messenger(self->engine));
}

static void fl_view_plugin_registry_iface_init(
    FlPluginRegistryInterface* iface) {
  iface->get_registrar_for_plugin = view_get_registrar_for_plugin;
}

static void paint_background(FlView* self, cairo_t* cr) {
  const GdkRGBA& c = self->background;
  // All four components zero means fully transparent: paint nothing.
  if (c.red == 0 && c.green == 0 && c.blue == 0 && c.alpha == 0) {
    return;
  }
  gdk_cairo_set_source_rgba(cr, &c);
  cairo_paint(cr);
}

// Called when the drawing area needs painting.
static gboolean draw_cb(GtkWidget* widget, cairo_t* cr, gpointer data) {
  paint_background(FL_VIEW(data), cr);
  return FALSE;
}

// Called from the main loop once the engine runs: renders the first frame
// off screen (the window is still hidden) and announces it.
static gboolean first_frame_cb(gpointer data) {
  FlView* self = FL_VIEW(data);
  int width = MAX(gtk_widget_get_allocated_width(GTK_WIDGET(self)), 1);
  int height = MAX(gtk_widget_get_allocated_height(GTK_WIDGET(self)), 1);
  cairo_surface_t* frame =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(frame);
  paint_background(self, cr);
  cairo_destroy(cr);
  cairo_surface_destroy(frame);
  if (!self->first_frame_emitted) {
    self->first_frame_emitted = TRUE;
    g_signal_emit(self, fl_view_signals[kSignalFirstFrame], 0);
    if (self->engine != nullptr) {
      fl_engine_note_first_frame(self->engine);
    }
  }
  return G_SOURCE_REMOVE;
}

// Called when the user closes the toplevel window: the Dart side decides.
static gboolean delete_event_cb(GtkWidget* widget,
                                GdkEvent* event,
                                gpointer data) {
  FlView* self = FL_VIEW(data);
  if (self->engine != nullptr) {
    fl_engine_request_app_exit(self->engine);
  }
  return TRUE;
}

static void unhook_toplevel(FlView* self) {
  if (self->hooked_toplevel == nullptr) {
    return;
  }
  g_signal_handler_disconnect(self->hooked_toplevel,
                              self->delete_event_handler);
  g_object_remove_weak_pointer(
      G_OBJECT(self->hooked_toplevel),
      reinterpret_cast<gpointer*>(&self->hooked_toplevel));
  self->hooked_toplevel = nullptr;
  self->delete_event_handler = 0;
}

static void fl_view_realize(GtkWidget* widget) {
  FlView* self = FL_VIEW(widget);
  GTK_WIDGET_CLASS(fl_view_parent_class)->realize(widget);
  gtk_widget_realize(self->drawing_area);

  GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
  if (GTK_IS_WINDOW(toplevel) && toplevel != self->hooked_toplevel) {
    unhook_toplevel(self);
    self->hooked_toplevel = toplevel;
    g_object_add_weak_pointer(G_OBJECT(toplevel), reinterpret_cast<gpointer*>(
                                                      &self->hooked_toplevel));
    self->delete_event_handler = g_signal_connect(
        toplevel, "delete-event", G_CALLBACK(delete_event_cb), self);
  }

  fl_engine_start(self->engine);
  if (!self->first_frame_requested) {
    self->first_frame_requested = TRUE;
    fl_engine_request_first_frame(self->engine, first_frame_cb, self);
  }
}

static void fl_view_dispose(GObject* object) {
  FlView* self = FL_VIEW(object);
  unhook_toplevel(self);
  if (self->engine != nullptr) {
    fl_engine_shutdown(self->engine);
    g_clear_object(&self->engine);
  }
  G_OBJECT_CLASS(fl_view_parent_class)->dispose(object);
}

static void fl_view_class_init(FlViewClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = fl_view_dispose;
  GTK_WIDGET_CLASS(klass)->realize = fl_view_realize;
  fl_view_signals[kSignalFirstFrame] =
      g_signal_new("first-frame", fl_view_get_type(), G_SIGNAL_RUN_LAST, 0,
                   nullptr, nullptr, nullptr, G_TYPE_NONE, 0);
}

static void fl_view_init(FlView* self) {
  gtk_widget_set_can_focus(GTK_WIDGET(self), TRUE);
  self->background = GdkRGBA{0.0, 0.0, 0.0, 1.0};
  self->drawing_area = gtk_drawing_area_new();
  gtk_widget_set_hexpand(self->drawing_area, TRUE);
  gtk_widget_set_vexpand(self->drawing_area, TRUE);
  g_signal_connect(self->drawing_area, "draw", G_CALLBACK(draw_cb), self);
  gtk_box_pack_start(GTK_BOX(self), self->drawing_area, TRUE, TRUE, 0);
  gtk_widget_show(self->drawing_area);
}

FlView* fl_view_new(FlDartProject* project) {
  g_return_val_if_fail(FL_IS_DART_PROJECT(project), nullptr);
  FlView* self = FL_VIEW(g_object_new(fl_view_get_type(), nullptr));
  self->engine = fl_engine_new(project);
  return self;
}

FlEngine* fl_view_get_engine(FlView* self) {
  g_return_val_if_fail(FL_IS_VIEW(self), nullptr);
  return self->engine;
}

void fl_view_set_background_color(FlView* self, const GdkRGBA* color) {
  g_return_if_fail(FL_IS_VIEW(self));
  g_return_if_fail(color != nullptr);
  self->background = *color;
  gtk_widget_queue_draw(self->drawing_area);
}
