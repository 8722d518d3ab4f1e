#include "window/Panel.h"

#include <QPainter>

#include "window/Image.h"

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
    QPalette p = palette();
    p.setColor(QPalette::Window, kWindowGrey);
    setPalette(p);
    setAutoFillBackground(true);
}

void TPanel::setBevel(bool on) {
    bevel_ = on;
    update();
}

void TPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (!bevel_) return;
    QPainter painter(this);
    const QColor light(255, 255, 255);
    const QColor dark(80, 80, 80);
    // One bevel is a one-pixel frame lit from the top left (raised) or the bottom right (lowered).
    auto bevel = [&painter](QRect r, QColor topLeft, QColor bottomRight) {
        painter.setPen(topLeft);
        painter.drawLine(r.left(), r.top(), r.right(), r.top());
        painter.drawLine(r.left(), r.top(), r.left(), r.bottom());
        painter.setPen(bottomRight);
        painter.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        painter.drawLine(r.right(), r.top(), r.right(), r.bottom());
    };
    bevel(rect(), light, dark);
    bevel(rect().adjusted(1, 1, -1, -1), dark, light);
}
