// The fixed numbers of the game's resources, and the loaders of the kinds that need nothing but
// the archives and the runtime: sprites, sounds, particle textures and the built-in pictures.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/containers.h"
#include "runtime/objects.h"

// Fixed sprite numbers (a sprite and its 3D sprite share the number).
enum SpriteNumber : int32_t {
  kSpriteBox = 1,
  kSpriteBarrel = 2,
  kSpriteBlood = 3,
  kSpriteBloodArm = 4,
  kSpriteBloodTorso = 5,
  kSpriteBarrelSmall = 6,
  kSpriteBarrelFront = 7,
  kSpriteBarrelGunpowder = 8,
  kSpriteBarrelBack = 9,
  kSpriteFuse = 10,
  kSpriteKillsList = 11,
  kSpriteIconFire = 12,
  kSpriteIconFuse = 13,
  kSpriteIconBarrel = 14,
  kSpriteHair = 15,
  kSpriteCheckBox0 = 17,
  kSpriteCheckBox1 = 18,
  kSpriteString = 19,
  kSpriteButton = 20,
  kSpriteList = 21,
  kSpriteUp = 22,
  kSpriteDown = 23,
  kSpriteSlider = 24,
  kSpriteLine = 25,
  kSpriteHead = 26,
  kSpriteSelect = 27,
  kSpriteSpinUp = 28,
  kSpriteSpinDown = 29,
  kSpriteBlack = 30,
  kSpriteTitle = 31,
  kSpriteToolTip = 32,
  kSpriteBackground = 33,
  kSpriteGlow = 778,
};

enum AnimationNumber : int32_t {
  kAnimationTorso = 1,
  kAnimationLegs = 2,
  kAnimationShoulder = 3,
  kAnimationFire = 4,
  kAnimationTime = 5,
  kAnimationAmount = 6,
};

enum TypefaceNumber : int32_t { kFontNormal = 1, kFontLight = 2, kFontBig = 3 };

enum SoundNumber : int32_t {
  kSoundFuse = 1,
  kSoundExplosion = 2,
  kSoundItem = 3,
  kSoundMenuMusic = 4,
  kSoundGameMusic = 5,
  kSoundStep = 6,
  kSoundChat = 7,
};

// Reads an image entry and makes sprite and 3D sprite `number` from it. Returns the number, or
// 0 when the entry could not be read or did not decode.
int32_t Load3DSprite(uint32_t archive, int32_t number, const std::string& entry);
// Reads a sound entry into sound `number`; a streamed sound keeps its memory for as long as it
// exists. Returns the sound's handle or 0.
rt::Handle LoadSound(uint32_t archive, int32_t number, const std::string& entry, bool streamed);

// Particle textures, keyed by file name without its four-character extension.
struct ParticleTexture {
  rt::Handle sprite = 0;
  rt::Handle sprite3D = 0;
};
rt::Map<ParticleTexture>& ParticleTextures();
// Replaces the whole texture map with the pictures of an archive folder ("png", "jpg" and "bmp"
// files, extension compared as written; the first of a name in listing order wins).
void LoadTextureFolder(uint32_t archive, const std::string& folder);

// The built-in pictures: the default particle texture (128 x 128, RGB) and the glow drawn under
// items (64 x 64 with alpha, sprite and 3D sprite 778).
rt::Handle DefaultParticleTexture();  // its 3D sprite
void CreateDefaultParticleTexture();
void CreateGlowSprite();
