// Sound and music: the effective volumes from the settings, world sounds placed by their
// position on screen, and one procedure per thing in the game that makes a sound.
#pragma once

#include <cstdint>

// Integer volumes 0..100 from the "Sound" settings.
int MusicVolume();  // Music x Volume / 100
int ChatVolume();   // Navigation x Volume / 100
// A world sound at (x, y): falls off with its distance from the screen centre (the vertical
// distance counts double), a third per screen width. Pan: -100 at the left screen edge, +100
// at the right (clamped by the sound service).
int PositionalVolume(float x, float y);
int PositionalPan(float x);

// Music switches between the menu piece and the game piece.
void PlayMenuMusic();
void UpdateMenuMusicVolume();  // every menu frame
void PlayGameMusic();

// A burning barrel's fuse: looped on a new channel at volume 0, then placed every frame.
int StartFuseSound();
void UpdateFuseSound(int channel, float x, float y);
void StopFuseSound(int channel);
// A barrel explodes: its fuse stops and the blast plays at a random pitch.
void PlayExplosionSound(int fuseChannel, float x, float y);
void PlayItemSound(float x, float y);
void PlayChatSound();
// The options page's sliders play a sample at the new level.
void PlayEffectsTestSound();
void PlayNavigationTestSound();
