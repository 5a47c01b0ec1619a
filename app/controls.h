// The "Control" key bindings and the gamepad, read from the frame's sample into the plain records
// the rules and the camera take.
#pragma once

#include "render/world_render.h"
#include "world/movement.h"

// The movement keys held.
MoveKeys ReadMoveKeys();
// The camera's keys; actionReleased is this frame's release of "A", read once per frame.
CameraKeys ReadCameraKeys(bool actionReleased);
// A release of "A": read once per frame, so that the barrel and the camera see the same one and
// a release nobody used is gone by the next frame.
bool ReadActionReleased();
// A round begins: an action press held since before it does not count when it is let go.
void IgnoreHeldAction();
bool ScoreKeyHeld();
