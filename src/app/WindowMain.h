#pragma once

namespace kurumu::app {

// The option of the desktop entry and the file managers' actions: the window keeps its
// settings in the user's configuration folder.
inline constexpr char kFromDesktop[] = "--from-desktop";

// Opens the window; paths on the command line are taken as one drop once it is shown.
int runWindow(int argc, char** argv);

}  // namespace kurumu::app
