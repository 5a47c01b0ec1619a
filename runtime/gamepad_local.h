// Inside the runtime only: the SDL screen's event pump hands SDL's game-controller events to
// gamepad_sdl.cpp, which feeds the pad state of input.h.
#pragma once

#include <SDL.h>

namespace rt {

// After SDL's video is up; without a controller subsystem the game goes on without pads.
void startGamepads();
void stopGamepads();
// Plugging, unplugging, buttons and the left stick; other events are left alone.
void gamepadEvent(const SDL_Event& event);

}  // namespace rt
