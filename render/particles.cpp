#include "render/particles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "data/archive.h"
#include "data/resources.h"
#include "runtime/clock.h"
#include "runtime/log.h"
#include "runtime/screen.h"

namespace {

constexpr int kOffScreenMargin = 128;  // emitters less far than this off the screen still spawn

struct ParticleEngine {
  bool emittersEnabled = true;
  const uint32_t* clock = nullptr;
  int32_t updateInterval = 10;
  uint32_t nextUpdate = 0;
  const int32_t* cameraX = nullptr;
  const int32_t* cameraY = nullptr;
  int32_t width = 1024, height = 768;
  bool drift = false;
  float driftX = 0, driftY = 0;
  rt::Map<ParticleType> types;
  rt::List<ParticleType> emitters;
  rt::List<Particle> particles;
};

// Never destroyed: particles name 3D sprites, and at exit the screen's tables may be gone first.
ParticleEngine& engine() {
  static ParticleEngine* e = new ParticleEngine;
  return *e;
}

uint32_t now() {
  const uint32_t* clock = engine().clock;
  return clock ? *clock : rt::milliseconds();
}

int32_t clampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// random(0 .. span) for spans that file values may push beyond 32 bits.
int64_t randomUpTo(int64_t span) {
  return rt::random(clampToInt32(std::max<int64_t>(span, 0)));
}

bool validBlend(int32_t factor) { return factor >= 1 && factor <= 10; }

// ---- Definition files ------------------------------------------------------------------------

// Reads the fields of a definition in order. Once a read runs past the end every further read
// fails too, so the caller checks once at the end.
struct DefinitionReader {
  std::span<const uint8_t> bytes;
  size_t at = 0;
  bool failed = false;

  // A line ends at NUL, CR LF or LF; a line without its terminator means the file ended early.
  std::string line() {
    if (failed) return {};
    for (size_t i = at; i < bytes.size(); ++i) {
      uint8_t c = bytes[i];
      bool crlf = c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
      if (c != 0 && c != '\n' && !crlf) continue;
      std::string text(reinterpret_cast<const char*>(bytes.data() + at), i - at);
      at = i + (crlf ? 2 : 1);
      return text;
    }
    failed = true;
    return {};
  }

  uint32_t word() {
    if (failed || bytes.size() - at < 4) {
      failed = true;
      return 0;
    }
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
    at += 4;
    return value;
  }

  int32_t integer() { return static_cast<int32_t>(word()); }
  float real() {
    uint32_t bits = word();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
};

void putLine(std::vector<uint8_t>* out, const std::string& text) {
  out->insert(out->end(), text.begin(), text.end());
  out->push_back('\r');
  out->push_back('\n');
}

void putWord(std::vector<uint8_t>* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putInteger(std::vector<uint8_t>* out, int32_t value) {
  putWord(out, static_cast<uint32_t>(value));
}

void putReal(std::vector<uint8_t>* out, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  putWord(out, bits);
}

// The texture of a key: an unknown or blank key falls back to the built-in picture.
rt::Handle textureOf(const std::string& key) {
  rt::Map<ParticleTexture>& textures = ParticleTextures();
  const ParticleTexture* texture = textures.find(key);
  if (!texture) texture = textures.find(rt::trim(key));
  if (texture && texture->sprite3D) return texture->sprite3D;
  return DefaultParticleTexture();
}

// ---- The frame ---------------------------------------------------------------------------

void runEmitters(uint32_t time, int32_t cameraX, int32_t cameraY) {
  ParticleEngine& e = engine();
  for (ParticleType& emitter : e.emitters) {
    if (!emitter.active) continue;
    emitter.screenX = clampToInt32(int64_t{emitter.x} - cameraX);
    emitter.screenY = clampToInt32(int64_t{emitter.y} - cameraY);
    if (!rt::timeBefore(emitter.nextEmission, time)) continue;
    bool nearScreen = emitter.screenX > -kOffScreenMargin &&
                      emitter.screenX < e.width + kOffScreenMargin &&
                      emitter.screenY > -kOffScreenMargin &&
                      emitter.screenY < e.height + kOffScreenMargin;
    if (nearScreen) {
      int64_t x = int64_t{emitter.x} - emitter.halfAreaWidth + randomUpTo(emitter.areaWidth);
      int64_t y = int64_t{emitter.y} - emitter.halfAreaHeight + randomUpTo(emitter.areaHeight);
      SpawnParticle(emitter, clampToInt32(x), clampToInt32(y));
    }
    emitter.nextEmission = time + static_cast<uint32_t>(emitter.interval);
  }
}

// Whether a particle's quad, turned any way, can touch the screen.
bool onScreen(const Particle& p, float size, int width, int height) {
  float reach = size * 0.75f;  // more than half the diagonal
  float centreX = p.screenX, centreY = p.screenY;
  return centreX + reach > 0 && centreX - reach < width && centreY + reach > 0 &&
         centreY - reach < height;
}

void drawParticle(const Particle& p, int width, int height) {
  if (!p.texture) return;
  float size = std::round(p.size);
  // A particle shrunk to nothing would come back mirrored if drawn with a negative size.
  if (!(size > 0) || !onScreen(p, size, width, height)) return;
  if (validBlend(p.sourceBlend) && validBlend(p.destinationBlend)) {
    rt::setBlendMode(p.sourceBlend, p.destinationBlend);
  } else {
    rt::setBlendMode(5, 6);
  }
  rt::sizeSprite3D(p.texture, size, size);
  rt::rotateSprite3D(p.texture, static_cast<float>(p.angle), 0);
  float alpha = p.alpha >= 0 ? std::min(std::round(p.alpha), 255.0f) : 0.0f;
  rt::displaySprite3D(p.texture, std::round(p.screenX - p.half), std::round(p.screenY - p.half),
                      static_cast<int>(alpha));
}

// One update step; false when the particle has aged away.
bool stepParticle(Particle& p, uint32_t time) {
  p.x += p.velocityX;
  p.y += p.velocityY;
  p.size += p.sizeChange;
  p.half = p.size / 2;
  if (!rt::timeBefore(p.deathAt, time)) return true;
  // A loss that is not positive (or not a number) would keep the particle for ever.
  if (!(p.alphaLoss > 0)) return false;
  p.alpha -= p.alphaLoss;
  return p.alpha >= 1;
}

}  // namespace

void InitParticles(int screenWidth, int screenHeight, int updateInterval, const uint32_t* clock,
                   const int32_t* cameraX, const int32_t* cameraY, bool drift) {
  ParticleEngine& e = engine();
  e.width = screenWidth;
  e.height = screenHeight;
  e.updateInterval = updateInterval;
  e.clock = clock;
  e.cameraX = cameraX;
  e.cameraY = cameraY;
  e.drift = drift;
  e.emittersEnabled = true;
  e.nextUpdate = now();
}

void CreateDefaultParticleType() {
  ParticleType* type = ParticleTypeByName("Default");
  *type = ParticleType{};
  type->active = 1;
  type->interval = 100;
  type->lifetime = 500;
  type->extraLifetime = 500;
  type->startSize = 64.0f;
  type->sizeChange = 0.5f;
  type->speed = 1.0f;
  type->minAngle = 0;
  type->maxAngle = 360;
  type->sourceBlend = 5;
  type->destinationBlend = 6;
  type->startAlpha = 200.0f;
  type->alphaLoss = 2.0f;
}

void SetParticleDrift(bool enabled, float x, float y) {
  ParticleEngine& e = engine();
  e.drift = enabled;
  e.driftX = x;
  e.driftY = y;
}

void SetEmittersEnabled(bool enabled) { engine().emittersEnabled = enabled; }

ParticleType* ParticleTypeByName(const std::string& name) { return engine().types.add(name); }

rt::Map<ParticleType>& ParticleTypes() { return engine().types; }

bool ParseParticleDefinition(std::span<const uint8_t> bytes, ParticleType* type,
                             std::string* name) {
  DefinitionReader in{bytes};
  ParticleType t;
  in.line();  // the header says nothing the engine needs
  std::string typeName = in.line();
  t.unused = in.integer();
  t.active = in.integer();
  t.areaWidth = in.integer();
  t.areaHeight = in.integer();
  t.interval = in.integer();
  t.textureKey = in.line();
  t.lifetime = in.integer();
  t.extraLifetime = in.integer();
  t.startSize = in.real();
  t.sizeChange = in.real();
  t.speed = in.real();
  t.minAngle = in.integer();
  t.maxAngle = in.integer();
  t.driftFactor = in.real();
  t.sourceBlend = in.integer();
  t.destinationBlend = in.integer();
  t.startAlpha = in.real();
  t.alphaLoss = in.real();
  if (in.failed) return false;
  t.halfAreaWidth = t.areaWidth / 2;
  t.halfAreaHeight = t.areaHeight / 2;
  *type = t;
  if (name) *name = typeName;
  return true;
}

std::vector<uint8_t> EncodeParticleDefinition(const ParticleType& type, const std::string& name,
                                              const std::string& header) {
  std::vector<uint8_t> out;
  putLine(&out, header);
  putLine(&out, name);
  putInteger(&out, type.unused);
  putInteger(&out, type.active);
  putInteger(&out, type.areaWidth);
  putInteger(&out, type.areaHeight);
  putInteger(&out, type.interval);
  putLine(&out, type.textureKey);
  putInteger(&out, type.lifetime);
  putInteger(&out, type.extraLifetime);
  putReal(&out, type.startSize);
  putReal(&out, type.sizeChange);
  putReal(&out, type.speed);
  putInteger(&out, type.minAngle);
  putInteger(&out, type.maxAngle);
  putReal(&out, type.driftFactor);
  putInteger(&out, type.sourceBlend);
  putInteger(&out, type.destinationBlend);
  putReal(&out, type.startAlpha);
  putReal(&out, type.alphaLoss);
  return out;
}

bool AddParticleDefinition(std::span<const uint8_t> bytes) {
  ParticleType type;
  std::string name;
  if (!ParseParticleDefinition(bytes, &type, &name)) return false;
  type.texture = textureOf(type.textureKey);
  *ParticleTypeByName(name) = type;
  return true;
}

bool LoadParticleDefinition(uint32_t archive, const std::string& path) {
  std::vector<uint8_t> bytes = ReadArchiveEntry(archive, path);
  // The reader pads every entry with 8 zero bytes; they must not complete a short file.
  constexpr size_t kPadding = 8;
  if (bytes.size() < kPadding) return false;
  bool ok = AddParticleDefinition({bytes.data(), bytes.size() - kPadding});
  if (!ok) rt::logLine("DATA", "particle definition %s is damaged", path.c_str());
  return ok;
}

int LoadParticleArchive(uint32_t archive) {
  LoadTextureFolder(archive, "Textures\\");
  int loaded = static_cast<int>(ParticleTextures().count());
  // Every file of the root is one definition; a later one of the same name wins.
  if (!ExamineArchiveFolder(archive, "\\")) return loaded;
  std::vector<std::string> names;
  while (NextArchiveFile(archive)) names.push_back(ArchiveFileName(archive));
  for (const std::string& name : names) loaded += LoadParticleDefinition(archive, "\\" + name);
  return loaded;
}

Particle* SpawnParticle(const ParticleType& type, int x, int y) {
  ParticleEngine& e = engine();
  if (e.particles.count() >= kMaxParticles) e.particles.erase(e.particles.begin());
  Particle* p = e.particles.append();
  uint32_t time = now();
  p->texture = type.texture;
  p->x = static_cast<float>(x);
  p->y = static_cast<float>(y);
  p->size = type.startSize;
  p->half = p->size / 2;
  p->sizeChange = type.sizeChange;
  p->deathAt = time + static_cast<uint32_t>(type.lifetime) +
               static_cast<uint32_t>(randomUpTo(type.extraLifetime));
  p->angle = clampToInt32(type.minAngle + randomUpTo(int64_t{type.maxAngle} - type.minAngle));
  double radians = p->angle * std::numbers::pi / 180.0;
  p->velocityX = static_cast<float>(std::cos(radians)) * type.speed;
  p->velocityY = static_cast<float>(std::sin(radians)) * type.speed;
  if (e.drift) {
    p->velocityX += e.driftX * type.driftFactor;
    p->velocityY += e.driftY * type.driftFactor;
  }
  p->sourceBlend = type.sourceBlend;
  p->destinationBlend = type.destinationBlend;
  p->alpha = type.startAlpha;
  p->alphaLoss = type.alphaLoss;
  return p;
}

ParticleType* AddEmitter(const ParticleType& type, int x, int y) {
  ParticleType* emitter = engine().emitters.append();
  *emitter = type;
  emitter->x = x;
  emitter->y = y;
  emitter->halfAreaWidth = emitter->areaWidth / 2;
  emitter->halfAreaHeight = emitter->areaHeight / 2;
  return emitter;
}

void RemoveEmitter(ParticleType* emitter) {
  if (emitter) engine().emitters.remove(emitter);
}

void ClearEmitters() { engine().emitters.clear(); }
void ClearParticles() { engine().particles.clear(); }
rt::List<ParticleType>& Emitters() { return engine().emitters; }
rt::List<Particle>& Particles() { return engine().particles; }

void ParticleFrame() {
  ParticleEngine& e = engine();
  uint32_t time = now();
  int32_t cameraX = e.cameraX ? *e.cameraX : 0;
  int32_t cameraY = e.cameraY ? *e.cameraY : 0;
  if (e.emittersEnabled) runEmitters(time, cameraX, cameraY);
  bool due = rt::timeBefore(e.nextUpdate, time);
  for (auto it = e.particles.begin(); it != e.particles.end();) {
    Particle& p = *it;
    p.screenX = p.x - static_cast<float>(cameraX);
    p.screenY = p.y - static_cast<float>(cameraY);
    drawParticle(p, e.width, e.height);
    if (due && !stepParticle(p, time)) {
      it = e.particles.erase(it);
    } else {
      ++it;
    }
  }
  if (due) e.nextUpdate = time + static_cast<uint32_t>(e.updateInterval);
  rt::setBlendMode(5, 6);
}
