// Screen, windows, window events, sprites, 3D sprites and images.
//
// A backend supplies: window creation and events, a screen inside a window, textures made from
// RGBA pixels, drawing one textured quad with four corner positions, texture coordinates and
// colours under a pair of Direct3D blend factors, clear, present, and a read-back of the back
// buffer. Two backends exist: SDL2 (screen_sdl.cpp) and a null backend (screen_null.cpp) that
// opens no window and draws nothing, for headless hosts, bots and tests.
//
// Colours given to the screen (clear) are 0x00BBGGRR, red in the low byte. 3D-sprite corner
// colours are 0x00RRGGBB, the Direct3D order; callers that hold 0x00BBGGRR swap red and blue.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/objects.h"

namespace rt {

enum class Backend { Sdl, Null };

// Starts the screen system on a backend. With Backend::Sdl it fails (returns false) when no
// display can be opened; the caller may then fall back to Backend::Null.
bool initScreenSystem(Backend backend);
void shutdownScreenSystem();
Backend screenBackend();

// ---- Windows -----------------------------------------------------------------------------

enum WindowFlags : uint32_t {
  kWindowCentred = 1,
  kWindowBorderless = 2,
  kWindowHidden = 4,
  kWindowResizable = 8,  // the player may resize it (a borderless one at its edges)
};

Handle openWindow(int32_t number, int x, int y, int width, int height, const std::string& title,
                  uint32_t flags);
void closeWindow(uint32_t window);
void showWindow(uint32_t window);
void hideWindow(uint32_t window);
void raiseWindow(uint32_t window);  // bring to the foreground
void minimizeWindow(uint32_t window);
void setWindowTitle(uint32_t window, const std::string& title);
bool windowVisible(uint32_t window);

// A borderless, centred window that shows an image with its per-pixel alpha (the start-up logo).
// Unlike every other screen operation it may be called from a thread other than the main thread:
// it uses a display connection of its own. Returns 0 when the platform cannot show one (null
// backend, no X11); callers go on without it.
Handle openLogoWindow(int32_t number, uint32_t image, const std::string& title);
void pumpLogoWindow(uint32_t window);  // handles the logo window's own events
void closeLogoWindow(uint32_t window);

// Window events, numbered like the Windows messages the game was designed around.
enum EventCode : int {
  kEventNone = 0,
  kEventClose = 16,
  kEventKeyDown = 256,      // param = DirectInput key code
  kEventKeyUp = 257,        // param = DirectInput key code
  kEventChar = 258,         // param = Windows-1252 character code (8 backspace, 13 return)
  kEventMouseMove = 512,
  kEventLeftDown = 513,
  kEventLeftUp = 514,
  kEventRightDown = 516,
  kEventRightUp = 517,
  kEventWheel = 522,        // param = wheel delta, 120 per notch, positive away from the user
  kEventPadDown = 1024,     // param = PadButton (input.h)
  kEventPadUp = 1025,
};

struct WindowEvent {
  int code = kEventNone;
  int param = 0;
  int x = 0, y = 0;  // mouse position in screen pixels at the time of the event
};

// Takes the next pending event of the main window (0 when none). Events are gathered by flip and
// by this call itself; scripted input (input.h) arrives here too.
int windowEvent(WindowEvent* out = nullptr);

// Shows a modal message box (used only for the fatal screen error).
void messageBox(const std::string& caption, const std::string& text);

// ---- Screen ------------------------------------------------------------------------------

// Opens the screen in the client area of a window. Non-zero on success.
bool openWindowedScreen(uint32_t window, int x, int y, int width, int height);
void closeScreen();
int screenWidth();
int screenHeight();

void setFrameRate(int framesPerSecond);
// Presents the back buffer, then waits for the next frame deadline (absolute deadlines, so the
// rate does not drift), then gathers window events.
void flipScreen();
void clearScreen(uint32_t colourBGR);
bool beginDrawing();  // false when the device cannot draw this frame
void endDrawing();

// Frames presented since start, and the average rate over the last few seconds.
uint64_t framesPresented();
double measuredFrameRate();
// A percentile (0.5, 0.99) of the periods between those frames, in milliseconds.
double framePeriodPercentile(double fraction);

// ---- Fullscreen and scaling -------------------------------------------------------------
// The screen keeps its size whatever its window's. In a window of another size, or on the whole
// desktop, the SDL backend shows it scaled to fit between black bars, and mouse positions and
// events come back in screen pixels. Alt+Enter and F11 switch the screen's window between the
// desktop and a window; the game sees neither key. The null backend has a fixed window.

// Where a screen lies in a window: centred, a whole multiple of its size when that comes within a
// tenth of the largest fit (sharp pixels), else the largest fit, smoothly scaled.
struct ScreenFit {
  int x = 0, y = 0, width = 0, height = 0;
  bool smooth = false;
};
ScreenFit fitScreen(int screenWidth, int screenHeight, int windowWidth, int windowHeight);
// A position in the window in screen pixels (outside the screen beyond its edges).
void windowToScreen(const ScreenFit& fit, int screenWidth, int screenHeight, int* x, int* y);

// The screen's window on the whole desktop, or back in its window.
void setFullscreen(bool on);
bool fullscreen();
// The screen's window size when not on the desktop; false when the backend's window cannot change.
bool windowedSize(int* width, int* height);
void setWindowedSize(int width, int height);

// ---- Sprites and 3D sprites ----------------------------------------------------------------

// Decodes a PNG, JPEG or BMP image held in memory into a sprite usable as a 3D-sprite texture,
// keeping its alpha channel. Returns the handle or 0.
Handle createSpriteFromMemory(int32_t number, const void* data, size_t length);
Handle createSpriteFromImage(int32_t number, uint32_t image);
int spriteWidth(uint32_t sprite);
int spriteHeight(uint32_t sprite);
void freeSprite(uint32_t sprite);
bool spriteExists(uint32_t sprite);

// A textured quad over the whole sprite: size = sprite size, corner colours white, no rotation.
Handle createSprite3D(int32_t number, uint32_t sprite);
void freeSprite3D(uint32_t sprite3D);
bool sprite3DExists(uint32_t sprite3D);

struct Vec2 {
  float x = 0, y = 0;
};

// Display size in pixels; leaves explicit corners (transformSprite3D) and uses the size again.
void sizeSprite3D(uint32_t sprite3D, float width, float height);
// mode 0 sets the rotation in degrees, mode 1 adds to it. The quad turns about its centre;
// positive angles turn clockwise on screen (y grows downward).
void rotateSprite3D(uint32_t sprite3D, float angle, int mode);
float sprite3DRotation(uint32_t sprite3D);
// Explicit corner offsets from the display point, in the order top-left, top-right,
// bottom-right, bottom-left. Size and rotation are ignored until sizeSprite3D is called.
void transformSprite3D(uint32_t sprite3D, const Vec2 corners[4]);
// Texture coordinates per corner (same order), 0..1 over the sprite.
void setSprite3DTexCoords(uint32_t sprite3D, const Vec2 uv[4]);
// Texture rectangle in sprite pixels (x, y, w, h), turned into the four coordinates.
void clipSprite3D(uint32_t sprite3D, float x, float y, float w, float h);
// Corner colours, 0x00RRGGBB each.
void setSprite3DColours(uint32_t sprite3D, const uint32_t colours[4]);
void setSprite3DColour(uint32_t sprite3D, uint32_t colourRGB);
float sprite3DWidth(uint32_t sprite3D);
float sprite3DHeight(uint32_t sprite3D);
uint32_t sprite3DTexture(uint32_t sprite3D);  // handle of the sprite it draws

// Draws the quad with its top-left corner at (x, y); alpha 0..255 multiplies the texture's alpha.
void displaySprite3D(uint32_t sprite3D, float x, float y, int alpha = 255);

// A rectangle of one colour (0x00RRGGBB) under the current blend, as a quad without texture
// (texture 0 in the recorder).
void fillRect(float x, float y, float width, float height, uint32_t colourRGB);

// Direct3D blend factors: 1 zero, 2 one, 3 source colour, 4 inverse source colour, 5 source
// alpha, 6 inverse source alpha, 7 destination alpha, 8 inverse destination alpha, 9 destination
// colour, 10 inverse destination colour. The back buffer has no alpha channel, so destination
// alpha reads as 1. Applies to every following display until changed; 5/6 is the normal pair.
void setBlendMode(int sourceFactor, int destinationFactor);

// Every quad displayed while a recorder is set is appended to it (both backends), so that tests
// can check what a drawing procedure placed where.
struct DrawnQuad {
  uint32_t sprite3D = 0;
  uint32_t texture = 0;
  Vec2 corners[4];  // screen positions
  Vec2 uv[4];
  uint32_t colours[4] = {};  // 0x00RRGGBB
  int alpha = 255;
  int sourceBlend = 5, destinationBlend = 6;
  // Off where blending could not change a pixel: the backend writes the quad's colours as they
  // are.
  bool blend = true;
  // Unturned and unscaled: one texel to a pixel, drawn without filtering on whole pixels.
  bool exact = false;
  // When more than 0: the convex part of the quad that is drawn (screen positions and texture
  // coordinates), leaving out texels that could not change a pixel.
  int outlineCount = 0;
  Vec2 outline[12];
  Vec2 outlineUv[12];
};
void setDrawRecorder(std::vector<DrawnQuad>* recorder);

// What the last presented frame drew: its quads, the screen pixels they covered with blending on
// (so a full screen of blended quads adds width x height), and how often the texture or the
// blend changed from one quad to the next.
struct DrawStats {
  uint64_t quads = 0;
  double blendedPixels = 0;
  uint64_t textureSwitches = 0;
  uint64_t blendSwitches = 0;
  bool repeated = false;  // the same as the frame on screen, so it was not drawn again
};
DrawStats lastFrameStats();

// ---- Images ------------------------------------------------------------------------------
// Images are RGBA pixels in memory (row-major, 4 bytes per pixel: R, G, B, A) and need no screen.

// Decodes PNG, JPEG or BMP from memory. Pictures larger than 16384 pixels on a side or with more
// than 64 million pixels are refused, since they come from files that players download.
Handle decodeImage(int32_t number, const void* data, size_t length);
Handle createImage(int32_t number, int width, int height, const uint8_t* rgba = nullptr);
bool resizeImage(uint32_t image, int width, int height);  // smooth scaling
// Reads a rectangle of the back buffer (what has been drawn since the last flip).
Handle grabScreen(int32_t number, int x, int y, int width, int height);
bool saveImagePng(uint32_t image, const std::string& path);  // path as given to the file services
void freeImage(uint32_t image);
bool imageExists(uint32_t image);
int imageWidth(uint32_t image);
int imageHeight(uint32_t image);
uint8_t* imagePixels(uint32_t image);  // RGBA, width * height * 4 bytes

// Plain decoding and encoding for tools and loaders that want pixels without an object.
struct Pixels {
  int width = 0, height = 0;
  std::vector<uint8_t> rgba;
};
bool decodePicture(const void* data, size_t length, Pixels* out);
bool encodePng(const Pixels& pixels, std::vector<uint8_t>* out);

}  // namespace rt
