#include "app/WindowMain.h"

int main(int argc, char** argv) {
    return kurumu::app::runWindow(argc, argv);
}
