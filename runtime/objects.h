// Numbered objects: every runtime object lives in a per-kind table and is addressed either by a
// slot number 0..65535 chosen by the caller or by a handle. A value whose upper 16 bits are zero
// is a slot number; anything else is a handle.
//
// Handles are 32-bit, their upper 16 bits are never zero, and a handle is never reused while the
// process runs: connection handles travel over the network as player identifiers, so a stale one
// must never name a new object.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace rt {

using Handle = uint32_t;  // 0 = none / failure

constexpr int32_t kAnyNumber = -1;   // "give me an anonymous object addressed by its handle"
constexpr int32_t kMaxNumber = 65535;

inline bool isHandle(uint32_t value) { return (value >> 16) != 0; }

// Next process-wide handle: 0x00010000, 0x00010001, ... shared by every kind of object.
Handle newHandle();

// A table of objects of one kind. Thread-safe for lookups and changes of the table itself; the
// objects are owned by whoever created them (one thread each).
template <class T>
class ObjectTable {
 public:
  // Frees whatever sits in the slot (for numbers 0..65535) and then builds the object with make(),
  // which returns a std::unique_ptr<T> (null on failure). Returns the new object's handle or 0;
  // a failed create leaves nothing behind.
  template <class Make>
  Handle create(int32_t number, Make make) {
    if (number < kAnyNumber || number > kMaxNumber) return 0;
    if (number >= 0) free(static_cast<uint32_t>(number));
    std::unique_ptr<T> object = make();
    if (!object) return 0;
    return insert(number, std::move(object));
  }

  // The object for a slot number or handle, or null.
  T* find(uint32_t numberOrHandle) {
    std::lock_guard lock(mutex_);
    Entry* e = entry(numberOrHandle);
    return e ? e->object.get() : nullptr;
  }

  // The handle of an object given by number or handle, or 0.
  Handle handleOf(uint32_t numberOrHandle) {
    std::lock_guard lock(mutex_);
    Entry* e = entry(numberOrHandle);
    return e ? e->handle : 0;
  }

  bool exists(uint32_t numberOrHandle) { return find(numberOrHandle) != nullptr; }

  // Frees the object; does nothing for a missing one.
  void free(uint32_t numberOrHandle) {
    std::unique_ptr<T> doomed;
    {
      std::lock_guard lock(mutex_);
      Entry* e = entry(numberOrHandle);
      if (!e) return;
      Handle h = e->handle;
      int32_t number = e->number;
      auto it = byHandle_.find(h);
      doomed = std::move(it->second.object);
      byHandle_.erase(it);
      if (number >= 0) slots_[number] = 0;
    }
    // Destroyed outside the lock: a destructor may free other objects of the same kind.
  }

  void clear() {
    std::vector<Handle> all;
    {
      std::lock_guard lock(mutex_);
      for (auto& [h, e] : byHandle_) all.push_back(h);
    }
    for (Handle h : all) free(h);
  }

  // Calls f(handle, T&) for every object; f must not change the table.
  template <class F>
  void forEach(F f) {
    std::lock_guard lock(mutex_);
    for (auto& [h, e] : byHandle_) f(h, *e.object);
  }

  size_t count() {
    std::lock_guard lock(mutex_);
    return byHandle_.size();
  }

 private:
  struct Entry {
    Handle handle = 0;
    int32_t number = -1;
    std::unique_ptr<T> object;
  };

  Handle insert(int32_t number, std::unique_ptr<T> object) {
    std::unique_ptr<T> displaced;
    std::lock_guard lock(mutex_);
    Handle h = newHandle();
    if (number >= 0) {
      if (slots_.size() <= static_cast<size_t>(number)) slots_.resize(number + 1, 0);
      // make() may have created another object under the same number meanwhile.
      if (Handle old = slots_[number]) {
        auto it = byHandle_.find(old);
        displaced = std::move(it->second.object);
        byHandle_.erase(it);
      }
      slots_[number] = h;
    }
    byHandle_[h] = Entry{h, number, std::move(object)};
    return h;
  }

  Entry* entry(uint32_t numberOrHandle) {
    Handle h = numberOrHandle;
    if (!isHandle(numberOrHandle)) {
      if (numberOrHandle >= slots_.size()) return nullptr;
      h = slots_[numberOrHandle];
      if (!h) return nullptr;
    }
    auto it = byHandle_.find(h);
    return it == byHandle_.end() ? nullptr : &it->second;
  }

  std::mutex mutex_;
  std::vector<Handle> slots_;
  std::unordered_map<Handle, Entry> byHandle_;
};

}  // namespace rt
