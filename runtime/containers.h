// Containers and text.
//
// Lists own their records and keep their addresses stable until an element is deleted, so game
// records may point at each other. A list also has a current element, as the game walks its lists
// and deletes the element it stands on.
//
// Texts are byte strings in the Windows-1252 code page.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace rt {

template <class T>
class List {
 public:
  using iterator = typename std::list<T>::iterator;

  // A copied or moved list starts before its first element: the current position of the
  // other list means nothing here.
  List() = default;
  List(const List& other) : items_(other.items_) {}
  List(List&& other) noexcept : items_(std::move(other.items_)) { other.reset(); }
  List& operator=(const List& other) {
    if (this != &other) {
      items_ = other.items_;
      reset();
    }
    return *this;
  }
  List& operator=(List&& other) noexcept {
    if (this != &other) {
      items_ = std::move(other.items_);
      reset();
      other.reset();
    }
    return *this;
  }

  // Adds a zero-initialised element after the current one (at the front when there is none) and
  // makes it current.
  T* add() {
    iterator at = current_ == items_.end() ? items_.begin() : std::next(current_);
    current_ = items_.insert(at, T{});
    return &*current_;
  }
  // Appends at the end and makes it current.
  T* append() {
    current_ = items_.insert(items_.end(), T{});
    return &*current_;
  }
  void reset() { current_ = items_.end(); }  // before the first element
  // Advances to the next element; null after the last (and the list is reset).
  T* next() {
    current_ = current_ == items_.end() ? items_.begin() : std::next(current_);
    return current_ == items_.end() ? nullptr : &*current_;
  }
  T* current() { return current_ == items_.end() ? nullptr : &*current_; }
  // Deletes the current element; the previous one becomes current (none at the front), so a
  // following next() continues with the element after the deleted one.
  void deleteCurrent() {
    if (current_ == items_.end()) return;
    iterator prev = current_ == items_.begin() ? items_.end() : std::prev(current_);
    items_.erase(current_);
    current_ = prev;
  }
  // Deletes the element with this address, wherever it is.
  bool remove(const T* element) {
    for (iterator it = items_.begin(); it != items_.end(); ++it) {
      if (&*it != element) continue;
      if (it == current_) {
        deleteCurrent();
      } else {
        items_.erase(it);
      }
      return true;
    }
    return false;
  }
  size_t count() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  // Index of the current element, -1 when none.
  int index() const {
    if (current_ == items_.end()) return -1;
    return static_cast<int>(std::distance(items_.begin(), iterator(current_)));
  }
  // Makes the element at index current; null when out of range.
  T* select(size_t index) {
    if (index >= items_.size()) return nullptr;
    current_ = std::next(items_.begin(), static_cast<long>(index));
    return &*current_;
  }
  void clear() {
    items_.clear();
    current_ = items_.end();
  }
  // Stable sort by a key; descending when asked.
  template <class Key>
  void sortBy(Key key, bool descending = false) {
    items_.sort([&](const T& a, const T& b) {
      return descending ? key(b) < key(a) : key(a) < key(b);
    });
    current_ = items_.end();
  }

  iterator begin() { return items_.begin(); }
  iterator end() { return items_.end(); }
  T& front() { return items_.front(); }
  T& back() { return items_.back(); }
  iterator erase(iterator it) {
    if (it == current_) current_ = items_.end();
    return items_.erase(it);
  }

 private:
  std::list<T> items_;
  iterator current_ = items_.end();
};

// Case-insensitive comparison and hashing of byte strings (ASCII letters fold; other bytes as is).
std::string lowerCase(const std::string& text);
std::string upperCase(const std::string& text);
bool equalNoCase(const std::string& a, const std::string& b);
bool lessNoCase(const std::string& a, const std::string& b);

struct NoCaseHash {
  size_t operator()(const std::string& s) const;
};
struct NoCaseEqual {
  bool operator()(const std::string& a, const std::string& b) const { return equalNoCase(a, b); }
};

// A string-keyed map of records with stable addresses, case-sensitive or not.
template <class T>
class Map {
 public:
  explicit Map(bool ignoreCase = false)
      : items_(16, Hash{ignoreCase}, Equal{ignoreCase}) {}
  // The record under key, created zero-initialised when missing.
  T* add(const std::string& key) { return &items_[key]; }
  T* find(const std::string& key) {
    auto it = items_.find(key);
    return it == items_.end() ? nullptr : &it->second;
  }
  bool erase(const std::string& key) { return items_.erase(key) > 0; }
  void clear() { items_.clear(); }
  size_t count() const { return items_.size(); }
  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }

 private:
  struct Hash {
    bool ignoreCase;
    size_t operator()(const std::string& s) const {
      return ignoreCase ? NoCaseHash{}(s) : std::hash<std::string>{}(s);
    }
  };
  struct Equal {
    bool ignoreCase;
    bool operator()(const std::string& a, const std::string& b) const {
      return ignoreCase ? equalNoCase(a, b) : a == b;
    }
  };
  std::unordered_map<std::string, T, Hash, Equal> items_;
};

// ---- Text --------------------------------------------------------------------------------

std::string str(int64_t value);
std::string strF(double value, int decimals);  // rounded, "." as the decimal point
int64_t val(const std::string& text);          // leading decimal integer, 0 when none
double valF(const std::string& text);
std::string trim(const std::string& text);     // blanks (spaces and tabs) at both ends
std::string_view trimView(std::string_view text);  // the same, in place
// The index-th field (1-based) of text split at separator; "" beyond the last.
std::string stringField(const std::string& text, int index, const std::string& separator);
int countFields(const std::string& text, const std::string& separator);
// 1-based position of what in text at or after start, 0 when absent.
int findString(const std::string& text, const std::string& what, int start = 1);
// From the 1-based position, length characters (-1: to the end).
std::string mid(const std::string& text, int position, int length = -1);
std::string replaceString(const std::string& text, const std::string& what, const std::string& by);
// "Data\Maps\x.map" -> "Data\Maps\", "x.map", "map" (either separator counts).
std::string getPathPart(const std::string& path);
std::string getFilePart(const std::string& path);
std::string getExtensionPart(const std::string& path);

// Windows-1252 <-> UTF-8, for text typed on the keyboard, log lines and tools.
std::string cp1252ToUtf8(const std::string& text);
std::string utf8ToCp1252(const std::string& text, char replacement = '?');
// Text the user typed or pasted: a character without a Windows-1252 code is dropped, so that a
// name never holds a character nobody typed.
std::string typedText(const std::string& utf8);

}  // namespace rt
