#include "window/Main.h"

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Veltra Digital Lamp"));
    setFixedSize(1004, 643);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(122, 122, 122));
    setPalette(p);
    setAutoFillBackground(true);
}
