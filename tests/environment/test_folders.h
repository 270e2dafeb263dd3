#pragma once
// Every test program writes its event log, its start-up trace and whatever its children put in
// the temporary folder into a folder of its own: made under TMPDIR (else /dev/shm, else /tmp)
// when the program starts, exported as TMPDIR to everything it runs, and removed with its
// content when the program ends. So a test run never fills or prunes the user's own log
// folder, and never leaves a file beside the build. Each also runs in the German locale
// (LANG=de_DE.UTF-8, with LC_ALL and LC_MESSAGES unset) with a home and a settings folder in
// its own folder (HOME=<folder>/home, XDG_CONFIG_HOME=<folder>/home/.config), exported to its
// children likewise.
//
// Linked into every test executable as an object (tests/CMakeLists.txt), so that it is in
// force before main() whether or not a test refers to it.
#include <string>

namespace fixtures {

// The program's own temporary folder, ending in '/'.
const std::string& TestRunFolder();

// Points the event log's temporary and executable folders back at TestRunFolder() with the
// real clock and rotation limit (what eventlog::testing::Reset() would do, minus the real
// folders).
void RestoreTestLogFolders();

// Path for a Unix socket named `name` in TestRunFolder(); in /tmp when that path would not fit
// a socket address.
std::string SocketPath(const std::string& name);

}  // namespace fixtures
