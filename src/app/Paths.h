#pragma once
#include <QString>

// Where the program keeps its files. A build (or a copied program folder) keeps them next to the
// program file; an installed program, whose folder only the system may write, keeps them in the
// user's data folder instead.
struct ProgramFolders {
    QString dataFolder;  // options.xml, values.xml, image.bmp
    QString logFile;     // the protocol log
};

// programFolder: the folder of the program file. userFolder: the user's data folder, used when
// the folder "data" next to the program is missing or not writable (or the program folder itself
// is not, where the log would go). On the first start there, options.xml is copied from the
// installation's default; a copy already there is the user's and is never replaced.
ProgramFolders ChoosePaths(const QString& programFolder, const QString& userFolder);

// The installation's default options.xml for a program in programFolder: the one in its data
// folder, else the one installed with the program's shared files. Empty when neither exists.
QString ShippedOptions(const QString& programFolder);
