#pragma once

namespace kurumu::app {

// Opens the window; paths on the command line are taken as one drop once it is shown.
int runWindow(int argc, char** argv);

}  // namespace kurumu::app
