// Plug-in registry (implemented by FlView) and the registrars it hands out.
#include <flutter_linux/flutter_linux.h>

#include "fl_private.h"

G_DEFINE_INTERFACE(FlPluginRegistry, fl_plugin_registry, G_TYPE_OBJECT)

static void fl_plugin_registry_default_init(FlPluginRegistryInterface* iface) {}

FlPluginRegistrar* fl_plugin_registry_get_registrar_for_plugin(
    FlPluginRegistry* self,
    const gchar* name) {
  g_return_val_if_fail(FL_IS_PLUGIN_REGISTRY(self), nullptr);
  g_return_val_if_fail(name != nullptr, nullptr);
  return FL_PLUGIN_REGISTRY_GET_IFACE(self)->get_registrar_for_plugin(self,
                                                                      name);
}

G_DEFINE_INTERFACE(FlPluginRegistrar, fl_plugin_registrar, G_TYPE_OBJECT)

static void fl_plugin_registrar_default_init(
    FlPluginRegistrarInterface* iface) {}

FlBinaryMessenger* fl_plugin_registrar_get_messenger(FlPluginRegistrar* self) {
  g_return_val_if_fail(FL_IS_PLUGIN_REGISTRAR(self), nullptr);
  return FL_PLUGIN_REGISTRAR_GET_IFACE(self)->get_messenger(self);
}

FlView* fl_plugin_registrar_get_view(FlPluginRegistrar* self) {
  g_return_val_if_fail(FL_IS_PLUGIN_REGISTRAR(self), nullptr);
  return FL_PLUGIN_REGISTRAR_GET_IFACE(self)->get_view(self);
}

#define FL_TYPE_PLUGIN_REGISTRAR_IMPL fl_plugin_registrar_impl_get_type()
G_DECLARE_FINAL_TYPE(FlPluginRegistrarImpl,
                     fl_plugin_registrar_impl,
                     FL,
                     PLUGIN_REGISTRAR_IMPL,
                     GObject)

struct _FlPluginRegistrarImpl {
  GObject parent_instance;
  GWeakRef view;
  FlBinaryMessenger* messenger;
};

static void fl_plugin_registrar_impl_iface_init(
    FlPluginRegistrarInterface* iface);

G_DEFINE_TYPE_WITH_CODE(
    FlPluginRegistrarImpl,
    fl_plugin_registrar_impl,
    G_TYPE_OBJECT,
    G_IMPLEMENT_INTERFACE(fl_plugin_registrar_get_type(),
                          fl_plugin_registrar_impl_iface_init))

static FlBinaryMessenger* impl_get_messenger(FlPluginRegistrar* registrar) {
  return FL_PLUGIN_REGISTRAR_IMPL(registrar)->messenger;
}

static gpointer impl_get_texture_registrar(FlPluginRegistrar* registrar) {
  return nullptr;
}

static FlView* impl_get_view(FlPluginRegistrar* registrar) {
  // Borrowed: the registrar does not keep the view alive, so hand out the
  // pointer without the temporary strong reference.
  FlPluginRegistrarImpl* self = FL_PLUGIN_REGISTRAR_IMPL(registrar);
  GObject* view = G_OBJECT(g_weak_ref_get(&self->view));
  if (view == nullptr) {
    return nullptr;
  }
  g_object_unref(view);
  return FL_VIEW(view);
}

static void fl_plugin_registrar_impl_iface_init(
    FlPluginRegistrarInterface* iface) {
  iface->get_messenger = impl_get_messenger;
  iface->get_texture_registrar = impl_get_texture_registrar;
  iface->get_view = impl_get_view;
}

static void fl_plugin_registrar_impl_dispose(GObject* object) {
  FlPluginRegistrarImpl* self = FL_PLUGIN_REGISTRAR_IMPL(object);
  g_weak_ref_set(&self->view, nullptr);
  g_clear_object(&self->messenger);
  G_OBJECT_CLASS(fl_plugin_registrar_impl_parent_class)->dispose(object);
}

static void fl_plugin_registrar_impl_finalize(GObject* object) {
  g_weak_ref_clear(&FL_PLUGIN_REGISTRAR_IMPL(object)->view);
  G_OBJECT_CLASS(fl_plugin_registrar_impl_parent_class)->finalize(object);
}

static void fl_plugin_registrar_impl_class_init(
    FlPluginRegistrarImplClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = fl_plugin_registrar_impl_dispose;
  G_OBJECT_CLASS(klass)->finalize = fl_plugin_registrar_impl_finalize;
}

static void fl_plugin_registrar_impl_init(FlPluginRegistrarImpl* self) {
  g_weak_ref_init(&self->view, nullptr);
}

FlPluginRegistrar* fl_plugin_registrar_new(FlView* view,
                                           FlBinaryMessenger* messenger) {
  FlPluginRegistrarImpl* self = FL_PLUGIN_REGISTRAR_IMPL(
      g_object_new(FL_TYPE_PLUGIN_REGISTRAR_IMPL, nullptr));
  g_weak_ref_set(&self->view, view);
  self->messenger = FL_BINARY_MESSENGER(g_object_ref(messenger));
  return FL_PLUGIN_REGISTRAR(self);
}
