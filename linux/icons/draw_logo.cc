// draw_logo SIZE OUT.png: draws the application logo (a speech bubble with a
// "V" on a rounded tile) at build time, so no binary image is kept in the
// repository.
#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

static void RoundedRect(cairo_t* cr,
                        double x,
                        double y,
                        double w,
                        double h,
                        double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s SIZE OUT.png\n", argv[0]);
    return 2;
  }
  const int size = atoi(argv[1]);
  if (size < 16 || size > 4096) {
    fprintf(stderr, "size out of range\n");
    return 2;
  }
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, size / 256.0, size / 256.0);

  // Tile: deep teal to indigo.
  cairo_pattern_t* tile = cairo_pattern_create_linear(0, 0, 256, 256);
  cairo_pattern_add_color_stop_rgb(tile, 0, 0.07, 0.62, 0.60);
  cairo_pattern_add_color_stop_rgb(tile, 1, 0.20, 0.22, 0.62);
  RoundedRect(cr, 8, 8, 240, 240, 52);
  cairo_set_source(cr, tile);
  cairo_fill(cr);
  cairo_pattern_destroy(tile);

  // Speech bubble with a tail at the lower left.
  cairo_set_source_rgb(cr, 1, 1, 1);
  RoundedRect(cr, 44, 56, 168, 124, 40);
  cairo_fill(cr);
  cairo_move_to(cr, 70, 170);
  cairo_line_to(cr, 58, 212);
  cairo_line_to(cr, 108, 176);
  cairo_close_path(cr);
  cairo_fill(cr);

  // The "V", drawn as a bold stroke.
  cairo_set_source_rgb(cr, 0.13, 0.36, 0.62);
  cairo_set_line_width(cr, 22);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_move_to(cr, 88, 90);
  cairo_line_to(cr, 128, 150);
  cairo_line_to(cr, 168, 90);
  cairo_stroke(cr);

  cairo_destroy(cr);
  cairo_status_t status = cairo_surface_write_to_png(surface, argv[2]);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    fprintf(stderr, "cannot write %s: %s\n", argv[2],
            cairo_status_to_string(status));
    return 1;
  }
  return 0;
}
