#include "render/animation.h"

#include <cmath>
#include <memory>

#include "data/archive.h"
#include "render/animation_file.h"
#include "render/animation_local.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "runtime/screen.h"
#include "world/angles.h"

namespace {

struct AnimationFrame {
  rt::Handle sprite = 0;
  rt::Handle sprite3D = 0;  // 0 when the image did not decode
  int64_t start = 0;        // sum of the earlier frames' durations, ms
  uint32_t duration = 0;    // ms
};

struct Animation {
  float width = 0, height = 0;
  int32_t number = -1;
  std::vector<AnimationFrame> frames;

  Animation() = default;
  Animation(const Animation&) = delete;
  Animation& operator=(const Animation&) = delete;
  ~Animation() {
    for (const AnimationFrame& frame : frames) {
      rt::freeSprite3D(frame.sprite3D);
      rt::freeSprite(frame.sprite);
    }
  }
};

struct AnimationInstance {
  int32_t number = -1;
  rt::Handle animation = 0;  // 0: the animation was missing, nothing is drawn
  float width = 0, height = 0;
  float angle = 0;
  float speed = 1;
  uint32_t colour = 0xFFFFFF;  // 0x00BBGGRR
  int first = 0, last = -1;
  double loopLength = 0;  // ms from the start of the first frame to the end of the last
  int current = 0;
  uint32_t lastAdvance = 0;
  double timeInFrame = 0;  // ms
  bool playing = false;
};

struct AnimationSystem {
  rt::ObjectTable<Animation> animations;
  rt::ObjectTable<AnimationInstance> instances;
  uint32_t (*clock)() = nullptr;
};

// Never destroyed: at exit the screen's tables may already be gone, and freeing the frames'
// sprites then would touch them.
AnimationSystem& animationSystem() {
  static AnimationSystem* system = new AnimationSystem;
  return *system;
}

rt::ObjectTable<Animation>& animations() { return animationSystem().animations; }
rt::ObjectTable<AnimationInstance>& instances() { return animationSystem().instances; }

uint32_t now() {
  uint32_t (*clock)() = animationSystem().clock;
  return clock ? clock() : rt::milliseconds();
}

// 0x00BBGGRR to the 0x00RRGGBB the 3D-sprite corners take.
uint32_t swapRedBlue(uint32_t colour) {
  return (colour & 0x00FF00) | (colour & 0xFF) << 16 | (colour >> 16 & 0xFF);
}

std::unique_ptr<Animation> buildAnimation(const AnimationFileView& file, int32_t number) {
  auto animation = std::make_unique<Animation>();
  animation->width = static_cast<float>(file.width);
  animation->height = static_cast<float>(file.height);
  animation->number = number;
  animation->frames.resize(file.frames.size());
  int64_t start = 0;
  int undecoded = 0;
  for (size_t i = 0; i < file.frames.size(); ++i) {
    AnimationFrame& frame = animation->frames[i];
    frame.start = start;
    frame.duration = file.frames[i].duration;
    start += frame.duration;
    frame.sprite = rt::createSpriteFromMemory(rt::kAnyNumber, file.frames[i].image,
                                              file.frames[i].imageLength);
    if (frame.sprite) frame.sprite3D = rt::createSprite3D(rt::kAnyNumber, frame.sprite);
    if (!frame.sprite3D) ++undecoded;
  }
  if (undecoded > 0) {
    rt::logLine("ANIM", "animation %d: %d of %zu frames without a picture", number, undecoded,
                file.frames.size());
  }
  return animation;
}

uint32_t durationOf(const Animation& animation, int frame) {
  return animation.frames[static_cast<size_t>(frame)].duration;
}

// Forward: t counts from the start of the current frame. The pause is first reduced modulo the
// loop, so a long one costs at most one pass over the frames.
void stepForward(AnimationInstance& instance, const Animation& animation, double elapsed) {
  double speed = instance.speed;
  double t = std::fmod((elapsed + instance.timeInFrame) * speed, instance.loopLength);
  // fmod keeps t below the loop, so one pass ends it; the bound only guards against rounding.
  size_t steps = 2 * animation.frames.size() + 2;
  while (steps-- > 0 && t - durationOf(animation, instance.current) >= 0) {
    t -= durationOf(animation, instance.current);
    instance.current = instance.current + 1 > instance.last ? instance.first : instance.current + 1;
  }
  instance.timeInFrame = t / speed;
}

// Backward: t is negative and counts from the end of the current frame.
void stepBackward(AnimationInstance& instance, const Animation& animation, double elapsed) {
  double speed = instance.speed;
  double t = std::fmod(
      (elapsed + durationOf(animation, instance.current) - instance.timeInFrame) * speed,
      instance.loopLength);
  size_t steps = 2 * animation.frames.size() + 2;
  while (steps-- > 0 && t + durationOf(animation, instance.current) <= 0) {
    t += durationOf(animation, instance.current);
    instance.current = instance.current - 1 < instance.first ? instance.last : instance.current - 1;
  }
  instance.timeInFrame = durationOf(animation, instance.current) - t / speed;
}

void advanceClock(AnimationInstance& instance, const Animation& animation, uint32_t tick) {
  if (!instance.playing) return;
  double elapsed = static_cast<double>(static_cast<uint32_t>(tick - instance.lastAdvance));
  instance.lastAdvance = tick;
  // A loop of zero length (every duration 0) has no time to step through: the frame stays.
  if (instance.speed == 0 || !(instance.loopLength > 0)) return;
  if (instance.last >= static_cast<int>(animation.frames.size())) return;
  if (instance.speed > 0) {
    stepForward(instance, animation, elapsed);
  } else {
    stepBackward(instance, animation, elapsed);
  }
}

}  // namespace

void SetAnimationClock(uint32_t (*clock)()) { animationSystem().clock = clock; }

// ---- Animations ----------------------------------------------------------------------------

rt::Handle CreateAnimationFromMemory(int32_t number, const void* data, size_t length,
                                     int64_t maxSize) {
  return animations().create(number, [&]() -> std::unique_ptr<Animation> {
    AnimationFileView file;
    AnimationFileError error =
        ParseAnimationFile(static_cast<const uint8_t*>(data), length, maxSize, &file);
    if (error != kAnimationFileOk) {
      rt::logLine("ANIM", "animation %d refused: %s", number, AnimationFileErrorText(error));
      return nullptr;
    }
    return buildAnimation(file, number);
  });
}

rt::Handle LoadAnimation(uint32_t archive, int32_t number, const std::string& entryPath) {
  std::vector<uint8_t> bytes = ReadArchiveEntry(archive, entryPath);
  if (bytes.empty()) {
    rt::logLine("ANIM", "animation %d: cannot read \"%s\"", number, entryPath.c_str());
    return 0;
  }
  return CreateAnimationFromMemory(number, bytes.data(), bytes.size(), -1);
}

void FreeAnimation(uint32_t animation) { animations().free(animation); }
bool AnimationExists(uint32_t animation) { return animations().exists(animation); }

int AnimationFrameCount(uint32_t animation) {
  Animation* a = animations().find(animation);
  return a ? static_cast<int>(a->frames.size()) : 0;
}

float AnimationWidth(uint32_t animation) {
  Animation* a = animations().find(animation);
  return a ? a->width : 0;
}

float AnimationHeight(uint32_t animation) {
  Animation* a = animations().find(animation);
  return a ? a->height : 0;
}

rt::Handle AnimationFrameSprite3D(uint32_t animation, int frame) {
  Animation* a = animations().find(animation);
  if (!a || frame < 0 || static_cast<size_t>(frame) >= a->frames.size()) return 0;
  return a->frames[static_cast<size_t>(frame)].sprite3D;
}

// ---- Instances -----------------------------------------------------------------------------

rt::Handle CreateAnimationInstance(int32_t number, uint32_t animation, bool playing) {
  return instances().create(number, [&]() -> std::unique_ptr<AnimationInstance> {
    auto instance = std::make_unique<AnimationInstance>();
    instance->number = number;
    instance->playing = playing;
    instance->lastAdvance = now();
    Animation* a = animations().find(animation);
    if (!a || a->frames.empty()) return instance;
    instance->animation = animations().handleOf(animation);
    instance->width = a->width;
    instance->height = a->height;
    instance->first = 0;
    instance->last = static_cast<int>(a->frames.size()) - 1;
    const AnimationFrame& first = a->frames[static_cast<size_t>(instance->first)];
    const AnimationFrame& last = a->frames[static_cast<size_t>(instance->last)];
    instance->loopLength = static_cast<double>(last.start + last.duration - first.start);
    instance->current = instance->first;
    return instance;
  });
}

void FreeAnimationInstance(uint32_t instance) { instances().free(instance); }
bool AnimationInstanceExists(uint32_t instance) { return instances().exists(instance); }

void PlayAnimation(uint32_t instance) {
  AnimationInstance* i = instances().find(instance);
  if (!i) return;
  i->playing = true;
  i->lastAdvance = now();
}

void StopAnimation(uint32_t instance) {
  AnimationInstance* i = instances().find(instance);
  if (i) i->playing = false;
}

bool AnimationPlaying(uint32_t instance) {
  AnimationInstance* i = instances().find(instance);
  return i && i->playing;
}

void ResetAnimation(uint32_t instance) {
  AnimationInstance* i = instances().find(instance);
  if (!i) return;
  i->playing = false;
  i->current = i->first;
  i->timeInFrame = 0;
}

void RotateAnimation(uint32_t instance, float angle, bool relative) {
  AnimationInstance* i = instances().find(instance);
  if (i) i->angle = relative ? i->angle + angle : angle;
}

float AnimationAngle(uint32_t instance) {
  AnimationInstance* i = instances().find(instance);
  return i ? i->angle : 0;
}

void SetAnimationSpeed(uint32_t instance, float speed) {
  AnimationInstance* i = instances().find(instance);
  if (i && std::isfinite(speed)) i->speed = speed;
}

void SetAnimationColour(uint32_t instance, uint32_t colourBGR) {
  AnimationInstance* i = instances().find(instance);
  if (i) i->colour = colourBGR & 0xFFFFFF;
}

int AnimationCurrentFrame(uint32_t instance) {
  AnimationInstance* i = instances().find(instance);
  return i ? i->current : 0;
}

float AnimationTimeInFrame(uint32_t instance) {
  AnimationInstance* i = instances().find(instance);
  return i ? static_cast<float>(i->timeInFrame) : 0;
}

void DisplayAnimation(uint32_t instance, float x, float y, int alpha, int32_t colourBGR) {
  AnimationInstance* i = instances().find(instance);
  if (!i || !i->animation) return;
  Animation* a = animations().find(i->animation);
  if (!a || a->frames.empty()) return;
  advanceClock(*i, *a, now());
  rt::Handle quad = a->frames[static_cast<size_t>(i->current)].sprite3D;
  if (!quad) return;
  uint32_t colour = colourBGR < 0 ? i->colour : static_cast<uint32_t>(colourBGR) & 0xFFFFFF;
  rt::setSprite3DColour(quad, swapRedBlue(colour));
  rt::sizeSprite3D(quad, i->width, i->height);
  rt::rotateSprite3D(quad, i->angle, 0);
  rt::displaySprite3D(quad, x, y, alpha);
}

// ---- Angles --------------------------------------------------------------------------------

float TurnBodyAngle(float displayed, float target) {
  constexpr float kStep = 10;
  float d = shortestAngleDifference(displayed, target);
  if (std::fabs(d) < kStep) return target;
  return displayed + (d > 0 ? kStep : -kStep);
}

// ---- The player figure ----------------------------------------------------------------------

PlayerBody CreatePlayerBody() {
  PlayerBody body;
  body.torso = CreateAnimationInstance(rt::kAnyNumber, kTorsoAnimation, false);
  body.legs = CreateAnimationInstance(rt::kAnyNumber, kLegsAnimation, false);
  body.shoulder = CreateAnimationInstance(rt::kAnyNumber, kShoulderAnimation, false);
  body.hair = kHairSprite;
  return body;
}

void FreePlayerBody(PlayerBody& body) {
  // A zero handle would name slot 0 of the instance table, which is not ours.
  for (rt::Handle* part : {&body.torso, &body.legs, &body.shoulder}) {
    if (*part) FreeAnimationInstance(*part);
    *part = 0;
  }
}

void AnimatePlayerBody(PlayerBody& body, bool moving, bool withShoulder) {
  rt::Handle parts[3] = {body.legs, body.torso, withShoulder ? body.shoulder : 0};
  for (rt::Handle part : parts) {
    if (!part) continue;
    if (!moving) {
      ResetAnimation(part);
    } else if (!AnimationPlaying(part)) {
      PlayAnimation(part);
    }
  }
}

void DrawPlayerBody(PlayerBody& body, float x, float y, int cameraX, int cameraY,
                    uint32_t colourBGR) {
  body.displayedAngle = TurnBodyAngle(body.displayedAngle, body.targetAngle);
  float angle = body.displayedAngle;
  float left = static_cast<float>(std::lround(x - static_cast<float>(cameraX) - kBodyOffset));
  float top = static_cast<float>(std::lround(y - static_cast<float>(cameraY) - kBodyOffset));
  const rt::Handle plain[2] = {body.legs, body.torso};
  for (rt::Handle part : plain) {
    if (!part) continue;
    RotateAnimation(part, angle, false);
    DisplayAnimation(part, left, top, 255, kInstanceColour);
  }
  if (body.shoulder) {
    RotateAnimation(body.shoulder, angle, false);
    DisplayAnimation(body.shoulder, left, top, 255, static_cast<int32_t>(colourBGR & 0xFFFFFF));
  }
  float hairLeft = static_cast<float>(std::lround(x - static_cast<float>(cameraX) - kHairOffset));
  float hairTop = static_cast<float>(std::lround(y - static_cast<float>(cameraY) - kHairOffset));
  rt::rotateSprite3D(body.hair, angle, 0);
  rt::displaySprite3D(body.hair, hairLeft, hairTop, 255);
}
