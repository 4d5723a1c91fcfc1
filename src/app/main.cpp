#include "app/Batch.h"
#include "app/Launcher.h"

int main(int argc, char** argv) {
    if (kurumu::app::isBatchInvocation(argc, argv)) return kurumu::app::runBatch(argc, argv);
    return kurumu::app::openWindow(argv);
}
