// The start-up logo: a borderless window with the logo's per-pixel alpha, shown by the logo
// thread while the main thread loads. It talks to X through a display connection of its own and
// never through SDL, which belongs to the main thread.
#include <bit>
#include <cstdlib>

#include "runtime/containers.h"
#include "runtime/log.h"
#include "runtime/screen_local.h"

// After our own headers: Xlib defines macros such as None, Bool and Status.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace rt {
namespace {

constexpr int kMaxLogoSide = 4096;

struct LogoWindow {
  Display* display = nullptr;
  ::Window window = 0;
  Colormap colormap = 0;
  GC gc = nullptr;
  XImage* image = nullptr;
  int width = 0, height = 0;

  ~LogoWindow() {
    if (image) XDestroyImage(image);  // frees the pixel block too
    if (gc) XFreeGC(display, gc);
    if (window) XDestroyWindow(display, window);
    if (colormap) XFreeColormap(display, colormap);
    if (display) XCloseDisplay(display);
  }
};

ObjectTable<LogoWindow>& logoWindows() {
  static ObjectTable<LogoWindow> table;
  return table;
}

// A 32-bit TrueColor visual whose spare bits hold alpha, as compositing managers expect.
bool findArgbVisual(Display* display, int screen, XVisualInfo* out) {
  if (!XMatchVisualInfo(display, screen, 32, TrueColor, out)) return false;
  return (out->red_mask | out->green_mask | out->blue_mask) != 0xFFFFFFFFul;
}

unsigned long channel(unsigned value, unsigned long mask) {
  if (mask == 0) return 0;
  int shift = std::countr_zero(mask);
  unsigned long top = mask >> shift;
  return ((value * top + 127) / 255) << shift;
}

// Premultiplied, so the same pixels look right composited and, without a compositor, over black.
unsigned long packPixel(const uint8_t* rgba, const XVisualInfo& visual, unsigned long alphaMask) {
  unsigned a = rgba[3];
  auto premultiply = [a](unsigned c) { return (c * a + 127) / 255; };
  return channel(premultiply(rgba[0]), visual.red_mask) |
         channel(premultiply(rgba[1]), visual.green_mask) |
         channel(premultiply(rgba[2]), visual.blue_mask) | channel(a, alphaMask);
}

XImage* makeImage(Display* display, const XVisualInfo& visual, bool argb, const uint8_t* rgba,
                  int width, int height) {
  XImage* image =
      XCreateImage(display, visual.visual, static_cast<unsigned>(visual.depth), ZPixmap, 0, nullptr,
                   static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
  if (!image) return nullptr;
  image->data = static_cast<char*>(
      malloc(static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(height)));
  if (!image->data) {
    XDestroyImage(image);
    return nullptr;
  }
  unsigned long colourBits = visual.red_mask | visual.green_mask | visual.blue_mask;
  unsigned long alphaMask = argb ? ~colourBits & 0xFFFFFFFFul : 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = rgba + (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 4;
      XPutPixel(image, x, y, packPixel(p, visual, alphaMask));
    }
  }
  return image;
}

void handleEvents(LogoWindow* logo) {
  bool repaint = false;
  while (XPending(logo->display)) {
    XEvent event;
    XNextEvent(logo->display, &event);
    if (event.type == Expose && event.xexpose.count == 0) repaint = true;
  }
  if (!repaint) return;
  XPutImage(logo->display, logo->window, logo->gc, logo->image, 0, 0, 0, 0,
            static_cast<unsigned>(logo->width), static_cast<unsigned>(logo->height));
  XFlush(logo->display);
}

bool buildWindow(LogoWindow* logo, uint32_t picture, const std::string& title) {
  Display* display = logo->display;
  int screen = DefaultScreen(display);
  ::Window root = RootWindow(display, screen);
  XVisualInfo visual{};
  bool argb = findArgbVisual(display, screen, &visual);
  if (!argb &&
      !XMatchVisualInfo(display, screen, DefaultDepth(display, screen), TrueColor, &visual)) {
    return false;
  }
  logo->image = makeImage(display, visual, argb, imagePixels(picture), logo->width, logo->height);
  if (!logo->image) return false;

  logo->colormap = XCreateColormap(display, root, visual.visual, AllocNone);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.colormap = logo->colormap;
  attributes.border_pixel = 0;
  attributes.background_pixel = 0;
  attributes.event_mask = ExposureMask;
  int x = (DisplayWidth(display, screen) - logo->width) / 2;
  int y = (DisplayHeight(display, screen) - logo->height) / 2;
  logo->window = XCreateWindow(
      display, root, x, y, static_cast<unsigned>(logo->width), static_cast<unsigned>(logo->height),
      0, visual.depth, InputOutput, visual.visual,
      CWOverrideRedirect | CWColormap | CWBorderPixel | CWBackPixel | CWEventMask, &attributes);
  if (!logo->window) return false;
  logo->gc = XCreateGC(display, logo->window, 0, nullptr);
  std::string name = cp1252ToUtf8(title);
  Xutf8SetWMProperties(display, logo->window, name.c_str(), name.c_str(), nullptr, 0, nullptr,
                       nullptr, nullptr);
  XMapRaised(display, logo->window);
  // Without a window manager the map is immediate; paint now rather than at the first pump.
  XSync(display, False);
  handleEvents(logo);
  return true;
}

}  // namespace

Handle openLogoWindow(int32_t number, uint32_t image, const std::string& title) {
  if (screenBackend() == Backend::Null || !imageExists(image)) return 0;
  int width = imageWidth(image), height = imageHeight(image);
  if (width <= 0 || height <= 0 || width > kMaxLogoSide || height > kMaxLogoSide) return 0;
  return logoWindows().create(number, [&]() -> std::unique_ptr<LogoWindow> {
    auto logo = std::make_unique<LogoWindow>();
    logo->display = XOpenDisplay(nullptr);
    if (!logo->display) {
      logLine("SCREEN", "no X display for the logo window");
      return nullptr;
    }
    logo->width = width;
    logo->height = height;
    if (!buildWindow(logo.get(), image, title)) {
      logLine("SCREEN", "cannot show the logo window");
      return nullptr;
    }
    return logo;
  });
}

void pumpLogoWindow(uint32_t window) {
  LogoWindow* logo = logoWindows().find(window);
  if (logo) handleEvents(logo);
}

void closeLogoWindow(uint32_t window) { logoWindows().free(window); }

}  // namespace rt
