#include "app/Icon.h"

#include <initializer_list>

// The resource lives in a static library: referencing it keeps the linker from dropping it.
static void InitIconResource() {
    Q_INIT_RESOURCE(Icon);
}

QIcon ProgramIcon() {
    InitIconResource();
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/veltra-lamp-%1.png").arg(size), QSize(size, size));
    return icon;
}
