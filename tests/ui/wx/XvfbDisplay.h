// A private X server (Xvfb) for the tests of real windows: they never need a desktop.
#pragma once

#include <string>

namespace sv::test {

// Starts Xvfb on a free display, points DISPLAY at it and installs the wx backend; the server
// ends with the test program. Returns false (with the reason) when Xvfb cannot be started.
bool StartPrivateDisplay(std::string& error);

// Where the tests write pictures for a person to look at: <build>/artifacts/.
std::string ArtifactDir();

}  // namespace sv::test
