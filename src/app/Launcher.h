#pragma once

// The command line hands a start without a batch mode on to the window's own program, so
// that the batch modes never load the window's libraries.
namespace kurumu::app {

// Replaces this process by kurumu-window with the same arguments; returns only when it
// cannot, with the exit status 1 after saying why.
int openWindow(char** argv);

}  // namespace kurumu::app
