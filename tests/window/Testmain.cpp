#include "Qtmain.h"

// The window tests need one application for the whole run, without a display.
int main(int argc, char** argv) {
    return RunQtTests(argc, argv);
}
