// Bitmap typefaces: every text on screen is drawn glyph by glyph as textured quads of one 3D
// sprite per typeface, cut from one picture that holds all glyphs.
//
// Typefaces are numbered 0..65535 (the game uses 1 "Normal.tf", 2 "Light.tf", 3 "Big.tf"), or
// created with rt::kAnyNumber and addressed by the returned handle. Texts are Windows-1252 byte
// strings and end at the first NUL byte. A typeface that was never loaded draws nothing and
// measures 0.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "runtime/objects.h"

// Passed for an optional argument, it means "the typeface's stored value" (for the clip
// rectangle: "keep it"). Scale and shear take it as the float -65535.0.
inline constexpr int32_t kTypefaceKeep = -65535;
inline constexpr uint32_t kTypefaceKeepColour = static_cast<uint32_t>(kTypefaceKeep);

// Load flags. The game loads its typefaces with kerning on.
inline constexpr uint32_t kTypefaceKerning = 1;

enum TypefaceError : int32_t {
  kTypefaceNoError = 0,
  kTypefaceBadNumber = 1,
  kTypefaceWrongIdentification = 2,
  kTypefaceWrongChecksum = 3,
  kTypefaceImageFailed = 4,  // kept for the error table; no load step reports it
  kTypefaceSpriteFailed = 5,
  kTypefaceSprite3DFailed = 6,
};

// Reads an entry of an open archive and loads it as a .tf file under number. Returns the
// typeface's handle, or 0. Whatever was loaded under number before is released first.
rt::Handle LoadTypeface(uint32_t archive, int32_t number, const std::string& entry,
                        uint32_t flags = kTypefaceKerning);
// The same for .tf bytes in memory.
rt::Handle LoadTypefaceFromMemory(int32_t number, std::span<const uint8_t> bytes,
                                  uint32_t flags = kTypefaceKerning);
void FreeTypeface(uint32_t typeface);
bool TypefaceExists(uint32_t typeface);

// x, y is the top-left of the text line in screen pixels. alpha 0..255, colour 0x00BBGGRR,
// shear in degrees (the glyphs lean, their baseline row stays in place).
void DrawText(uint32_t typeface, float x, float y, std::string_view text,
              int32_t alpha = kTypefaceKeep, uint32_t colour = kTypefaceKeepColour,
              float scale = kTypefaceKeep, float shear = kTypefaceKeep);
// The sum of the advances and kerning of the characters that have glyphs, times scale.
float TextWidth(uint32_t typeface, std::string_view text, float scale = kTypefaceKeep);
// The largest baseline among the characters that have glyphs, times scale.
float TextHeight(uint32_t typeface, std::string_view text, float scale = kTypefaceKeep);

// Clipping cuts glyphs at the rectangle's edges without stretching them; rotated text is never
// clipped. The rectangle values may be kTypefaceKeep.
void SetTypefaceClip(uint32_t typeface, bool clipping, int32_t x = kTypefaceKeep,
                     int32_t y = kTypefaceKeep, int32_t width = kTypefaceKeep,
                     int32_t height = kTypefaceKeep);
// mode 0 sets the rotation in degrees, mode 1 adds to it. Text turns as a rigid whole about its
// start point, clockwise on screen for positive angles.
void SetTypefaceRotation(uint32_t typeface, float angle, int mode = 0);
// Pixels added to every glyph's advance when drawing (before scaling); not measured.
void SetTypefaceSpacing(uint32_t typeface, float spacing);

// Sets all four corner colours of a 3D sprite from a 0x00BBGGRR colour.
void TintSprite3D(uint32_t sprite3D, uint32_t colour);

// The last error code of the typeface loader and the German texts of the codes (Windows-1252,
// "" outside 0..6).
int32_t LastTypefaceError();
std::string TypefaceErrorText(int32_t code);
