#include "my_application.h"

int main(int argc, char** argv) {
  // Label the process for the sound server, unless whoever started us
  // already did.
  g_setenv("PULSE_PROP_application.name", "Velmo", FALSE);
  g_setenv("PULSE_PROP_application.id", "com.velmo.pro", FALSE);
  g_setenv("PULSE_PROP_application.icon_name", "com.velmo.pro", FALSE);

  g_autoptr(MyApplication) app = my_application_new();
  return g_application_run(G_APPLICATION(app), argc, argv);
}
