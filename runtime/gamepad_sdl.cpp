// Gamepads over SDL's game controllers: one pad at a time, the first plugged in; when it goes,
// the next one still plugged in takes its place. SDL reports the pads present at start as
// plugged in too, so start-up and hot-plugging are the same path.
#include <SDL.h>

#include "runtime/containers.h"
#include "runtime/gamepad_local.h"
#include "runtime/input.h"
#include "runtime/log.h"

namespace rt {
namespace {

struct PadState {
  bool started = false;
  SDL_GameController* pad = nullptr;
  SDL_JoystickID id = -1;
};

PadState pads;

int padButtonOf(Uint8 button) {
  switch (button) {
    case SDL_CONTROLLER_BUTTON_A: return kPadSouth;
    case SDL_CONTROLLER_BUTTON_B: return kPadEast;
    case SDL_CONTROLLER_BUTTON_BACK: return kPadBack;
    case SDL_CONTROLLER_BUTTON_START: return kPadStart;
    case SDL_CONTROLLER_BUTTON_DPAD_UP: return kPadUp;
    case SDL_CONTROLLER_BUTTON_DPAD_DOWN: return kPadDown;
    case SDL_CONTROLLER_BUTTON_DPAD_LEFT: return kPadLeft;
    case SDL_CONTROLLER_BUTTON_DPAD_RIGHT: return kPadRight;
    default: return -1;
  }
}

void open(int deviceIndex) {
  if (pads.pad || !SDL_IsGameController(deviceIndex)) return;
  SDL_GameController* pad = SDL_GameControllerOpen(deviceIndex);
  if (!pad) {
    logLine("INPUT", "cannot open gamepad %d: %s", deviceIndex, SDL_GetError());
    return;
  }
  pads.pad = pad;
  pads.id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(pad));
  const char* name = SDL_GameControllerName(pad);
  std::string shown = typedText(name && name[0] ? name : "Gamepad");
  setPadConnected(shown);
  logLine("INPUT", "gamepad \"%s\" connected", shown.c_str());
}

void close() {
  if (!pads.pad) return;
  SDL_GameControllerClose(pads.pad);
  pads.pad = nullptr;
  pads.id = -1;
  setPadConnected("");
  logLine("INPUT", "gamepad disconnected");
}

void openFirst() {
  for (int i = 0; i < SDL_NumJoysticks() && !pads.pad; ++i) open(i);
}

}  // namespace

void startGamepads() {
  if (pads.started) return;
  if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
    logLine("INPUT", "no gamepads: %s", SDL_GetError());
    return;
  }
  pads.started = true;
}

void stopGamepads() {
  if (!pads.started) return;
  close();
  SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
  pads = PadState{};
}

void gamepadEvent(const SDL_Event& e) {
  if (!pads.started) return;
  switch (e.type) {
    case SDL_CONTROLLERDEVICEADDED: open(e.cdevice.which); break;
    case SDL_CONTROLLERDEVICEREMOVED:
      if (e.cdevice.which != pads.id) break;
      close();
      openFirst();
      break;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
      if (e.cbutton.which == pads.id) {
        setPadButton(padButtonOf(e.cbutton.button), e.type == SDL_CONTROLLERBUTTONDOWN);
      }
      break;
    case SDL_CONTROLLERAXISMOTION:
      if (e.caxis.which != pads.id) break;
      if (e.caxis.axis == SDL_CONTROLLER_AXIS_LEFTX) setPadStick(kPadStickX, e.caxis.value);
      if (e.caxis.axis == SDL_CONTROLLER_AXIS_LEFTY) setPadStick(kPadStickY, e.caxis.value);
      break;
    default: break;
  }
}

}  // namespace rt
