#pragma once
#include <QIcon>

// The program's icon in every size it ships, for the main window and the message boxes.
QIcon ProgramIcon();
