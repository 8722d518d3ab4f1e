#include "Qtmain.h"

// The icon and the window run by the client's tests need one application, without a display.
int main(int argc, char** argv) {
    return RunQtTests(argc, argv);
}
