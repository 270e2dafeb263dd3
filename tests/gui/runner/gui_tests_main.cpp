// gui_tests NAME [Qt Test arguments]: runs the GUI test registered under NAME (gui_tests.h).
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "gui/runner/gui_tests.h"

namespace test {

namespace {
std::map<std::string, GuiTestMain>& GuiTests() {
  static std::map<std::string, GuiTestMain> tests;
  return tests;
}
}  // namespace

GuiTest::GuiTest(const char* name, GuiTestMain main) {
  if (!GuiTests().emplace(name, main).second) {
    std::fprintf(stderr, "two GUI tests are registered as %s\n", name);
    std::abort();
  }
}

const std::map<std::string, GuiTestMain>& RegisteredGuiTests() {
  return GuiTests();
}

}  // namespace test

int main(int argc, char** argv) {
  const auto& tests = test::RegisteredGuiTests();
  const auto found = argc >= 2 ? tests.find(argv[1]) : tests.end();
  if (found == tests.end()) {
    if (argc >= 2) std::fprintf(stderr, "no GUI test is called %s\n", argv[1]);
    std::fprintf(stderr, "usage: %s NAME [Qt Test arguments], NAME one of:\n", argv[0]);
    for (const auto& [name, main] : tests) std::fprintf(stderr, "  %s\n", name.c_str());
    return 2;
  }
  // The test sees the program's name followed by its own arguments, as its own main did.
  argv[1] = argv[0];
  return found->second(argc - 1, argv + 1);
}
