#pragma once
// The GUI tests are one program: each test file registers its main under the file's name, and
// `gui_tests NAME [Qt Test arguments]` runs that one (ctest runs each as gui_NAME).
//
//   const test::GuiTest kTimeLeftTestRegistered("time_left_test",
//                                               test::RunQtTestObject<QApplication, TimeLeftTest>);
//
// A test against linesim registers a function that calls test::RunQtTestsInLab (qt_lab.h).
#include <QTest>
#include <map>
#include <string>

namespace test {

// A test file's main: argv[0] is the program, the rest are Qt Test's arguments.
using GuiTestMain = int (*)(int argc, char** argv);

// Registers `main` under `name`; made at start-up by a constant in each test file.
struct GuiTest {
  GuiTest(const char* name, GuiTestMain main);
};

// Every registered test by name.
const std::map<std::string, GuiTestMain>& RegisteredGuiTests();

// What a plain Qt Test main does: the application (QApplication, or QCoreApplication for a
// test without widgets), then the test object run with the arguments.
template <typename Application, typename TestObject>
int RunQtTestObject(int argc, char** argv) {
  Application app(argc, argv);
  app.setAttribute(Qt::AA_Use96Dpi, true);
  TestObject tests;
  return QTest::qExec(&tests, argc, argv);
}

}  // namespace test
