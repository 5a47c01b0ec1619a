// Sound and music: the effective volumes from the settings, world sounds placed by their
// position on screen, and one procedure per thing in the game that makes a sound. The world's
// sounds follow its events: a burning barrel keeps a fuse channel, a blast and a pickup play
// where they happen, and the game music starts with a match's first round.
#pragma once

#include <cstdint>

#include "world/events.h"

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

// The listener of the sounds; start-up adds it to the world's listeners.
void PlayWorldEvent(const WorldEvent& event);
// Once per game frame: every fuse channel placed where its barrel burns.
void UpdateWorldSounds();

// A blast plays at a random pitch on a channel of its own.
void PlayExplosionSound(float x, float y);
void PlayItemSound(float x, float y);
void PlayChatSound();
// The options page's sliders play a sample at the new level.
void PlayEffectsTestSound();
void PlayNavigationTestSound();
