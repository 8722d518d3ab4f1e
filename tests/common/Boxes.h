#pragma once
#include <QApplication>
#include <QMessageBox>
#include <QWidget>

// The program's own question or message box while one shows: it shows beside the window, not
// modal, so it is looked for among the open windows.
inline QMessageBox* OpenBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible()) return box;
    }
    return nullptr;
}
