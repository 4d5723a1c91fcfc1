#include "app/Launcher.h"

#include "platform/Process.h"

#include <cstdio>
#include <initializer_list>

namespace kurumu::app {

int openWindow(char** argv) {
    // Beside this program in the build folder, or where the package installs it.
    for (const char* place : {"kurumu-window", "../libexec/kurumu/kurumu-window"})
        platform::replaceBySibling(place, argv);
    std::fputs("kurumu: the window's program, kurumu-window, is not installed beside this one\n", stderr);
    return 1;
}

}  // namespace kurumu::app
