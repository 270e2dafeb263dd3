// tools/demo end to end without a display: it makes its lab, starts linesim with the demo line,
// lists the modules with quillmar-cli discover, says how to open the window, and removes the lab.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>
#include <string>

#include "fixtures/lab.h"
#include "sim/line.h"

namespace {

TEST(Demo, FindsTheDemoLineAndRemovesItsLab) {
  QM_SKIP_WITHOUT_LAB();
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  setenv("QM_BUILD_DIR", QM_BINARY_DIR, 1);
  const auto run = test::RunProgram({test::SourceFile("tools/demo")}, 120000);
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

  const sim::LineSetup demoLine = sim::LoadLineFile(test::SourceFile("sim/lines/demo.json"));
  EXPECT_NE(run.out.find(", selected: " + std::to_string(demoLine.ModuleCount()) + " modules"),
            std::string::npos)
      << run.out;
  for (const auto& chain : demoLine.chains) {
    for (const auto& module : chain) {
      EXPECT_NE(run.out.find(std::to_string(module.serial)), std::string::npos) << module.serial;
    }
  }
  EXPECT_NE(run.out.find("xvfb-run -a ./run demo"), std::string::npos) << run.out;

  std::smatch name;
  ASSERT_TRUE(std::regex_search(run.out, name, std::regex("demo: lab (demo[0-9]+) removed")))
      << run.out;
  const auto namespaces = test::RunProgram({"ip", "netns", "list"});
  EXPECT_EQ(namespaces.out.find(name[1].str() + "-"), std::string::npos) << namespaces.out;
}

}  // namespace
