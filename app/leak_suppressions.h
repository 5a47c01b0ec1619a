// Leaks inside system libraries that a sanitized build cannot do anything about (X11, Mesa,
// fontconfig, D-Bus, the sound library's device threads, vorbisfile refusing a broken stream).
// Programs of the sanitized build hand this list to LeakSanitizer so that only our own leaks fail
// a run.
#pragma once

#define POWDERBOX_LEAK_SUPPRESSIONS \
  "leak:libX11\n"                   \
  "leak:libxcb\n"                   \
  "leak:libGLX\n"                   \
  "leak:libGL\n"                    \
  "leak:libgallium\n"               \
  "leak:swrast_dri\n"               \
  "leak:libLLVM\n"                  \
  "leak:libfontconfig\n"            \
  "leak:libdbus\n"                  \
  "leak:libopenal\n"                \
  "leak:libSDL2\n"                  \
  "leak:libvorbisfile\n"

#if defined(__SANITIZE_ADDRESS__)
#define POWDERBOX_DEFINE_LEAK_SUPPRESSIONS \
  extern "C" const char* __lsan_default_suppressions() { return POWDERBOX_LEAK_SUPPRESSIONS; }
#else
#define POWDERBOX_DEFINE_LEAK_SUPPRESSIONS
#endif
