// Helpers shared by the tests.
#pragma once

#include <string>
#include <vector>

namespace test {

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& bytes);
void writeFile(const std::string& path, const std::vector<unsigned char>& bytes);
std::string readFile(const std::string& path);

// A private X server for tests that need a display: started once per test process on a free
// display number, DISPLAY set to it, stopped at exit. Returns false (and the test should skip)
// when Xvfb is not installed.
bool startXvfb();

// Moves this process, and whatever it starts from now on, into a network namespace of its own
// with only the loopback interface up, so that a search or a registration can reach nothing
// but this machine's loopback. Call it before any thread starts. False where the system does not
// allow it (not root): the test should skip.
bool enterPrivateNetwork();

std::string sourceDir();  // the repository
std::string binaryDir();  // the build tree that holds the executables and Data

// The bytes of a typeface file whose glyphs, for these characters only, are 10 pixels wide with a
// baseline of 12, cut from a white picture.
std::vector<unsigned char> tenPixelTypeface(const std::string& characters);

// Runs a command and returns its exit status, standard output in *output when given.
int runCommand(const std::string& command, std::string* output = nullptr);

}  // namespace test
