// Frame animations and animation instances, and the player figure drawn from them.
//
// An animation is shared, read-only data: one sprite and 3D sprite per frame, each frame shown
// for its own duration. What moves on screen is an instance, with its own current frame, clock,
// speed, angle, colour and playing flag. Both are numbered objects (a slot 0..65535, or -1 for
// one addressed by the returned handle); every operation on a missing object does nothing and
// returns 0.
//
// An instance's clock runs on the system millisecond tick, only while it plays, and only moves
// when the instance is displayed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/objects.h"

// ---- Animations ----------------------------------------------------------------------------

// Builds an animation from the bytes of an AFS-2.00 file. maxSize below 0 means no limit of the
// caller's own. Returns the handle, or 0 when the file fails its checks (the number then stays
// empty: an animation already under it is freed first). A frame whose image does not decode is
// kept without a picture and draws nothing.
rt::Handle CreateAnimationFromMemory(int32_t number, const void* data, size_t length,
                                     int64_t maxSize = -1);
inline rt::Handle CreateAnimationFromMemory(int32_t number, const std::vector<uint8_t>& bytes,
                                            int64_t maxSize = -1) {
  return CreateAnimationFromMemory(number, bytes.data(), bytes.size(), maxSize);
}
// Reads an entry of an open data archive ("Player\Torso.afs") and builds the animation from it.
rt::Handle LoadAnimation(uint32_t archive, int32_t number, const std::string& entryPath);
// Frees every frame's 3D sprite and sprite, then the animation.
void FreeAnimation(uint32_t animation);
bool AnimationExists(uint32_t animation);
int AnimationFrameCount(uint32_t animation);
float AnimationWidth(uint32_t animation);
float AnimationHeight(uint32_t animation);
// The 3D sprite of a frame (0 when the frame's image did not decode), for tools and tests.
rt::Handle AnimationFrameSprite3D(uint32_t animation, int frame);

// ---- Instances -----------------------------------------------------------------------------

// An instance of a missing animation is still made, so that its owner holds a real handle; it
// simply draws nothing. Initial values: frame 0, angle 0, speed 1, colour white.
rt::Handle CreateAnimationInstance(int32_t number, uint32_t animation, bool playing);
void FreeAnimationInstance(uint32_t instance);
bool AnimationInstanceExists(uint32_t instance);

// Play restarts the clock from now: time that passed while stopped is not caught up.
void PlayAnimation(uint32_t instance);
// Stops the clock; the current frame stays on screen.
void StopAnimation(uint32_t instance);
bool AnimationPlaying(uint32_t instance);
// The rest pose: stopped, on the first frame, no time spent in it.
void ResetAnimation(uint32_t instance);

// Sets the angle in degrees (relative false) or turns it by angle (relative true).
void RotateAnimation(uint32_t instance, float angle, bool relative);
float AnimationAngle(uint32_t instance);
// Negative speeds play backwards, 0 freezes. Non-finite speeds are refused.
void SetAnimationSpeed(uint32_t instance, float speed);
// Colour 0x00BBGGRR, red in the low byte, like every colour the game keeps.
void SetAnimationColour(uint32_t instance, uint32_t colourBGR);

int AnimationCurrentFrame(uint32_t instance);
float AnimationTimeInFrame(uint32_t instance);

inline constexpr int32_t kInstanceColour = -1;
// Advances the clock, then draws the current frame with its top-left corner at (x, y), tinted
// with colourBGR (0x00BBGGRR) or, for kInstanceColour, the instance's own colour.
void DisplayAnimation(uint32_t instance, float x, float y, int alpha = 255,
                      int32_t colourBGR = kInstanceColour);

// ---- Angles --------------------------------------------------------------------------------

// One frame of turning: 10 degrees toward target, or onto it when it is closer than that.
float TurnBodyAngle(float displayed, float target);

// ---- The player figure ----------------------------------------------------------------------

inline constexpr int32_t kTorsoAnimation = 1;
inline constexpr int32_t kLegsAnimation = 2;
inline constexpr int32_t kShoulderAnimation = 3;
inline constexpr int32_t kHairSprite = 15;
// Frames are 128 x 128 and the hair 32 x 32, both drawn centred on the player.
inline constexpr int kBodyOffset = 64;
inline constexpr int kHairOffset = 16;

struct PlayerBody {
  rt::Handle torso = 0, legs = 0, shoulder = 0;  // instances
  uint32_t hair = kHairSprite;                   // 3D sprite
  float displayedAngle = 0;  // where the body faces on screen, turned a step per frame
  float targetAngle = 0;     // where the player faces
};

// Three stopped instances of the torso, legs and shoulder animations, and the hair.
PlayerBody CreatePlayerBody();
void FreePlayerBody(PlayerBody& body);
// Movement: a moving figure keeps its instances playing (clocks already running are left
// alone, so holding a key drops no time); a standing one returns to the rest pose. The
// shoulder takes part only when withShoulder is set (the local player).
void AnimatePlayerBody(PlayerBody& body, bool moving, bool withShoulder);
// One frame of a living player: turns the displayed angle a step toward the target, then draws
// legs, torso, shoulder (in the player's colour, 0x00BBGGRR) and hair centred on (x, y) in the
// world, seen from the camera.
void DrawPlayerBody(PlayerBody& body, float x, float y, int cameraX, int cameraY,
                    uint32_t colourBGR);
