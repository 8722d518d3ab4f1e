#include "window/Image.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "window/Canvas.h"

namespace {
// A pointer position as the image pixel under it.
QPoint PixelAt(const QMouseEvent* event) {
    const QPointF p = event->position();
    return {static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y()))};
}
}  // namespace

void MarkBox(QLineEdit* box, bool red) {
    QPalette p = box->palette();
    p.setColor(QPalette::Base,
               red ? QColor(255, 0, 0) : QApplication::palette(box).color(QPalette::Base));
    box->setPalette(p);
}

TImage::TImage(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Moves are reported with and without a button held, as the diagram shows the pointer.
    setMouseTracking(true);
}

void TImage::Renew() {
    ratio_ = devicePixelRatioF();
    picture_ = ScaledImage(size(), ratio_);
    picture_.fill(kWindowGrey);
}

bool TImage::FollowRatio() {
    if (devicePixelRatioF() == ratio_) return false;
    Renew();
    QMetaObject::invokeMethod(this, &TImage::Replaced, Qt::QueuedConnection);
    return true;
}

bool TImage::event(QEvent* event) {
    // A move to another screen may change the ratio; a paint checks it again, which also
    // catches a change of the screen's own scale.
    if (event->type() == QEvent::ScreenChangeInternal) FollowRatio();
    return QWidget::event(event);
}

void TImage::SetPicture(const QImage& image) {
    picture_ = image;
    update();
}

void TImage::paintEvent(QPaintEvent* /*event*/) {
    FollowRatio();
    QPainter painter(this);
    painter.fillRect(rect(), kWindowGrey);
    painter.drawImage(0, 0, picture_);
    if (hasFocus()) {
        // Drawn over the shown picture only; Picture() keeps every pixel as the program drew it.
        painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void TImage::resizeEvent(QResizeEvent* /*event*/) {
    if (picture_.size() == PhysicalSize(size(), ratio_) && ratio_ == devicePixelRatioF()) return;
    if (!FollowRatio()) Renew();
}

void TImage::mousePressEvent(QMouseEvent* event) {
    const QPoint p = PixelAt(event);
    emit MouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = PixelAt(event);
    emit MouseMove(event->buttons(), event->modifiers(), p.x(), p.y());
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = PixelAt(event);
    emit MouseUp(event->button(), event->modifiers(), p.x(), p.y());
}

void TImage::keyPressEvent(QKeyEvent* event) {
    emit KeyDown(event->key(), event->modifiers());
}

void TImage::focusInEvent(QFocusEvent* /*event*/) {
    update();
}

void TImage::focusOutEvent(QFocusEvent* /*event*/) {
    update();
    emit Exit();
}
