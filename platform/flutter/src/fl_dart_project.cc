// The Dart project: here only the entrypoint arguments; the stand-in has no
// assets or compiled Dart code to locate.
#include <flutter_linux/flutter_linux.h>

#include "fl_private.h"

struct _FlDartProject {
  GObject parent_instance;
  gchar** entrypoint_arguments;
};

G_DEFINE_TYPE(FlDartProject, fl_dart_project, G_TYPE_OBJECT)

static void fl_dart_project_dispose(GObject* object) {
  FlDartProject* self = FL_DART_PROJECT(object);
  g_clear_pointer(&self->entrypoint_arguments, g_strfreev);
  G_OBJECT_CLASS(fl_dart_project_parent_class)->dispose(object);
}

static void fl_dart_project_class_init(FlDartProjectClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = fl_dart_project_dispose;
}

static void fl_dart_project_init(FlDartProject* self) {}

FlDartProject* fl_dart_project_new(void) {
  return FL_DART_PROJECT(g_object_new(fl_dart_project_get_type(), nullptr));
}

void fl_dart_project_set_dart_entrypoint_arguments(FlDartProject* self,
                                                   char** argv) {
  g_return_if_fail(FL_IS_DART_PROJECT(self));
  gchar** copy = g_strdupv(argv);
  g_clear_pointer(&self->entrypoint_arguments, g_strfreev);
  self->entrypoint_arguments = copy;
}

gchar** fl_dart_project_dup_entrypoint_arguments(FlDartProject* self) {
  if (self->entrypoint_arguments == nullptr) {
    return g_new0(gchar*, 1);
  }
  return g_strdupv(self->entrypoint_arguments);
}
