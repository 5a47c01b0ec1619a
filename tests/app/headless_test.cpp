// The program without a display: the null backends carry it through start-up and the main loop,
// and scripted input drives it.

#include <gtest/gtest.h>

#include "app/app.h"
#include "support/test_support.h"

TEST(Headless, ScriptedCloseEndsTheProgramCleanly) {
  test::TempDir dir;
  test::writeFile(dir.file("input.txt"), "# close the window after a few frames\n500 close\n");
  std::string command = "APPDATA=" + dir.path() + " " + test::binaryDir() +
                        "/powderbox --headless --data " + test::binaryDir() + " --log " +
                        dir.file("game.log") + " --input-script " + dir.file("input.txt");
  EXPECT_EQ(test::runCommand(command), 0);
  std::string log = test::readFile(dir.file("game.log"));
  EXPECT_NE(log.find("screen opened 1024x768 (headless)"), std::string::npos) << log;
  EXPECT_NE(log.find("START main loop"), std::string::npos) << log;
  EXPECT_NE(log.find("END exit 0"), std::string::npos) << log;
}

TEST(Headless, BadInputScriptIsRefusedWithAMessage) {
  test::TempDir dir;
  test::writeFile(dir.file("input.txt"), "100 jump around\n");
  std::string output;
  int status = test::runCommand(test::binaryDir() + "/powderbox --headless --input-script " +
                                    dir.file("input.txt") + " 2>&1",
                                &output);
  EXPECT_EQ(status, 2);
  EXPECT_NE(output.find("line 1"), std::string::npos) << output;
}

TEST(Options, HelpVersionAndUnknownOptions) {
  std::string output;
  EXPECT_EQ(test::runCommand(test::binaryDir() + "/powderbox --version", &output), 0);
  EXPECT_NE(output.find("Powderbox 0.5"), std::string::npos);
  EXPECT_EQ(test::runCommand(test::binaryDir() + "/powderbox --help", &output), 0);
  EXPECT_NE(output.find("--headless"), std::string::npos);
  EXPECT_EQ(test::runCommand(test::binaryDir() + "/powderbox --frobnicate 2>/dev/null"), 2);
}
