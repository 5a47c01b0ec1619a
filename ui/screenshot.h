// Screenshots: the screen saved as the next numbered PNG file.
//
// A pattern is a folder and a file name with either a run of "?" (the number, padded with "0"
// to as many digits) or one "*" (the number without padding): "ScreenShots\Picture????.png"
// gives Picture0001.png, Picture0002.png, ... Numbers go on from the highest existing file, so
// deleted pictures leave gaps that are not filled again.
#pragma once

#include <string>

// The game's pictures, inside the configuration folder.
inline constexpr char kScreenshotPattern[] = "ScreenShots\\Picture????.png";

// The path of the next picture for a pattern, creating its folder when it cannot be listed.
// "" when the folder cannot be made or the numbers are used up (nothing is ever overwritten).
std::string NextScreenshotPath(const std::string& pattern);
// Grabs the whole screen and saves it under the next name. Failures are silent (logged only).
bool SaveScreenshot(const std::string& pattern);
// Once per frame, after the title bar is drawn and before the flip: a picture into the
// configuration folder when F12 was released.
void CheckScreenshotKey();
