// The title-bar decision, with the window manager name as input.
#include <gtest/gtest.h>

#include "my_application.h"

namespace {

TEST(MyApplicationTest, HeaderBarExceptUnderOtherX11WindowManagers) {
  struct Case {
    gboolean x11;
    const char* wm_name;
    gboolean header_bar;
  } cases[] = {
      {TRUE, "GNOME Shell", TRUE},  {TRUE, "Openbox", FALSE},
      {TRUE, "unknown", FALSE},     {TRUE, "GNOME Shell ", FALSE},
      {TRUE, "gnome shell", FALSE}, {TRUE, nullptr, FALSE},
      {FALSE, nullptr, TRUE},       {FALSE, "Openbox", TRUE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wm_name ? c.wm_name : "(none)");
    EXPECT_EQ(my_application_wants_header_bar(c.x11, c.wm_name), c.header_bar);
  }
}

}  // namespace
