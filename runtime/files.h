// Files, directories and INI preferences.
//
// Paths are the game's own: "Data\Maps\x.map" with "\" as the separator, resolved against the
// data root (the folder that holds Data). A path that is absolute after turning "\" into "/"
// is used as it is. When a path does not exist with its exact letter case, each component is
// looked up without regard to case, as the game's paths were written for a case-blind system.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/objects.h"

namespace rt {

// The data root; by default the folder of the executable, then the installed location
// ../share/powderbox from it, then the first parent of the executable's folder that holds a
// Data folder. POWDERBOX_DATA in the environment overrides it; so does --data.
void setDataRoot(const std::string& folder);
const std::string& dataRoot();
// The folder of the running program; argv0 is the fallback where /proc is missing (may be null).
std::string executableFolder(const char* argv0);
void initDataRoot(const char* argv0);
// A game path as a native path ("\" -> "/", relative to the data root, letter case found).
std::string nativePath(const std::string& gamePath);

// ---- Files -------------------------------------------------------------------------------

Handle openFile(int32_t number, const std::string& path);     // read only; 0 on failure
Handle createFile(int32_t number, const std::string& path);   // truncates; 0 on failure
void closeFile(uint32_t file);
bool fileOpen(uint32_t file);

// Reads up to length bytes; returns the number read (0 at the end or on failure).
int64_t readData(uint32_t file, void* buffer, int64_t length);
// Typed little-endian reads; each yields 0 at the end of the file.
int8_t readByte(uint32_t file);
uint8_t readUByte(uint32_t file);
int16_t readWord(uint32_t file);
int32_t readLong(uint32_t file);
float readFloat(uint32_t file);
// Bytes up to NUL, CR or LF (not included). CR LF counts as one terminator; after a lone CR the
// next byte stays unread; the end of the file ends a line. Past the end: "".
std::string readLine(uint32_t file);
bool endOfFile(uint32_t file);

int64_t writeData(uint32_t file, const void* data, int64_t length);
bool writeLong(uint32_t file, int32_t value);
bool writeString(uint32_t file, const std::string& text);  // the bytes, no terminator

bool seekFile(uint32_t file, int64_t position);
int64_t filePosition(uint32_t file);
int64_t fileLength(uint32_t file);

// Whole-file helpers.
bool fileExists(const std::string& path);
int64_t fileSize(const std::string& path);  // -1 when missing
bool readWholeFile(const std::string& path, std::vector<uint8_t>* out, int64_t maxBytes);
// Writes a temporary file in the same folder, flushes it to disk and renames it over path, so
// that a crash or a full disk never leaves a truncated file.
bool writeFileAtomically(const std::string& path, const void* data, size_t length);
// Removes the temporaries that writeFileAtomically leaves when the process dies mid-write: in
// path's folder, the regular files ".<name>.XXXXXX" of this user that nobody has touched for
// kStaleTemporarySeconds. Returns how many went.
inline constexpr int kStaleTemporarySeconds = 60;
int removeStaleTemporaries(const std::string& path);
// CRC-32 of a whole file; 0 when it cannot be opened.
uint32_t fileCrc32(const std::string& path);

// ---- Directories -------------------------------------------------------------------------

// Lists the entries of folder that match pattern ("*" any run, "?" one character; "" or "*.*"
// matches everything), case-insensitively. Entries come in name order.
Handle examineDirectory(int32_t number, const std::string& folder, const std::string& pattern);
bool nextDirectoryEntry(uint32_t directory);  // false at the end
std::string directoryEntryName(uint32_t directory);
bool directoryEntryIsFolder(uint32_t directory);
void finishDirectory(uint32_t directory);

bool createDirectory(const std::string& path);  // one level; true when it exists afterwards
bool wildcardMatch(const std::string& pattern, const std::string& name);

// ---- INI preferences ---------------------------------------------------------------------
// One open preference file at a time, as the game uses them. Lines end in CR LF, CR or LF;
// "[Group]" lines, "key = value" lines, "; " comments. Groups and keys compare without regard
// to letter case. Before any group is selected, reads see the keys above the first group line.

bool openPreferences(const std::string& path);    // false when the file cannot be read
bool createPreferences(const std::string& path);  // written when closed
void closePreferences();  // writes a created file (atomically, CR LF lines); false ignored
bool closePreferencesChecked();  // the same, telling whether the write succeeded
void preferenceGroup(const std::string& group);
std::string readPreferenceString(const std::string& key, const std::string& fallback);
int32_t readPreferenceLong(const std::string& key, int32_t fallback);
float readPreferenceFloat(const std::string& key, float fallback);
void writePreferenceString(const std::string& key, const std::string& value);
void writePreferenceLong(const std::string& key, int32_t value);
void writePreferenceFloat(const std::string& key, float value);
void writePreferenceComment(const std::string& text);
// Every key and value of the selected group (or of the part above the first group), in order.
std::vector<std::pair<std::string, std::string>> preferenceKeys();

}  // namespace rt
