// Particles: smoke, sparks, blood and debris. Particle types are data (one definition file each
// in "Data\Particles.qzd"); game code spawns single particles of a named type or places emitters,
// which are copies of a type record that keep spawning at their position. Once per frame the
// engine runs the emitters, draws every particle and, at most once per update interval, moves
// and ages them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "runtime/containers.h"
#include "runtime/objects.h"

// A particle type; an emitter is a copy of one with its position set.
struct ParticleType {
  int32_t unused = 0;
  int32_t active = 0;           // emitters made from this type start emitting when non-zero
  int32_t x = 0, y = 0;         // emitters: centre of the spawn area, world pixels
  int32_t screenX = 0, screenY = 0;
  int32_t areaWidth = 0, areaHeight = 0;
  int32_t halfAreaWidth = 0, halfAreaHeight = 0;
  int32_t interval = 0;         // emission interval, ms
  uint32_t nextEmission = 0;
  std::string textureKey;       // name in the particle texture map; "" = the default texture
  rt::Handle texture = 0;       // 3D sprite
  int32_t lifetime = 0;         // ms
  int32_t extraLifetime = 0;    // random 0..n ms more
  float startSize = 0;          // pixels, square
  float sizeChange = 0;         // per update step
  float speed = 0;              // pixels per update step
  int32_t minAngle = 0, maxAngle = 0;  // degrees
  float driftFactor = 0;
  int32_t sourceBlend = 5, destinationBlend = 6;
  float startAlpha = 0;
  float alphaLoss = 0;          // per update step after the lifetime; 0 = vanish at once
};

struct Particle {
  rt::Handle texture = 0;
  float size = 0, half = 0, sizeChange = 0;
  float x = 0, y = 0;           // world pixels
  float screenX = 0, screenY = 0;
  float velocityX = 0, velocityY = 0;
  int32_t angle = 0;            // direction and drawing rotation, degrees
  uint32_t deathAt = 0;
  float alphaLoss = 0;
  float alpha = 0;
  int32_t sourceBlend = 5, destinationBlend = 6;
};

// Sets up the engine: the screen size, the update interval (the game passes 10 ms), the game
// clock and the camera it reads every frame, and whether drift acts on new particles. Emitters
// are enabled.
void InitParticles(int screenWidth, int screenHeight, int updateInterval, const uint32_t* clock,
                   const int32_t* cameraX, const int32_t* cameraY, bool drift);
// Creates the type map's "Default" type with its fixed values; its texture is given once the
// built-in picture exists.
void CreateDefaultParticleType();
void SetParticleDrift(bool enabled, float x, float y);
void SetEmittersEnabled(bool enabled);

// The type map. A name no file defined gives an empty record, created on the spot.
ParticleType* ParticleTypeByName(const std::string& name);
rt::Map<ParticleType>& ParticleTypes();

// Parses one definition file; false when it is not one (too short, a field past the end).
bool ParseParticleDefinition(std::span<const uint8_t> bytes, ParticleType* type,
                             std::string* name);
// Reads a definition entry of an open archive into the type map (a later definition of the same
// name replaces the earlier one). The texture key names a texture of the texture map; an
// unknown or blank key gives the default texture.
bool LoadParticleDefinition(uint32_t archive, const std::string& path);
// The particle archive: its "Textures" folder into the texture map, then every file of its root
// as a definition. Returns the textures and definitions loaded.
int LoadParticleArchive(uint32_t archive);
// The same for a definition already in memory (the bytes of the file, no padding).
bool AddParticleDefinition(std::span<const uint8_t> bytes);
// Writes a definition file; ParseParticleDefinition reads it back field for field.
std::vector<uint8_t> EncodeParticleDefinition(const ParticleType& type, const std::string& name,
                                              const std::string& header);

// Appends one particle of the type at (x, y) and returns it. The list holds at most
// kMaxParticles: beyond that the oldest particle makes room.
inline constexpr size_t kMaxParticles = 65536;
Particle* SpawnParticle(const ParticleType& type, int x, int y);
// Appends an emitter: a copy of the type placed at (x, y). The returned record stays valid
// until RemoveEmitter or ClearEmitters.
ParticleType* AddEmitter(const ParticleType& type, int x, int y);
void RemoveEmitter(ParticleType* emitter);
void ClearEmitters();
void ClearParticles();
rt::List<ParticleType>& Emitters();
rt::List<Particle>& Particles();

// Once per drawn frame, after the players: emitters, then drawing and (when due) updating every
// particle. Restores the normal blend at the end.
void ParticleFrame();
