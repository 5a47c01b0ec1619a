// The silent backend: accepts everything and plays nothing. Buffers and sources still get
// numbers, so game code on a headless host flows exactly as with a device.

#include "runtime/sound_local.h"

namespace rt {
namespace {

class NullBackend : public SoundBackend {
 public:
  bool open(const char*) override { return true; }
  void close() override {}
  bool silent() const override { return true; }

  uint32_t createBuffer() override { return ++lastId_; }
  bool setBufferData(uint32_t, const int16_t*, size_t, int, int) override { return true; }
  void freeBuffer(uint32_t) override {}

  uint32_t createSource() override { return ++lastId_; }
  void freeSource(uint32_t) override {}
  void attachBuffer(uint32_t, uint32_t) override {}
  void setGain(uint32_t, float) override {}
  void setPan(uint32_t, float) override {}
  void setPitch(uint32_t, float) override {}
  void setLooping(uint32_t, bool) override {}
  void play(uint32_t) override {}
  void stop(uint32_t) override {}
  bool playing(uint32_t) override { return false; }

  bool queueBuffer(uint32_t, uint32_t) override { return true; }
  uint32_t unqueueProcessed(uint32_t) override { return 0; }
  int queuedBuffers(uint32_t) override { return 0; }

 private:
  uint32_t lastId_ = 0;
};

}  // namespace

std::unique_ptr<SoundBackend> makeNullBackend() { return std::make_unique<NullBackend>(); }

}  // namespace rt
