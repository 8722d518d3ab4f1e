#pragma once
#include <QColor>
#include <QImage>
#include <QWidget>

class QLineEdit;

// The background of the window and of every panel.
inline const QColor kWindowGrey(122, 122, 122);

// Marks a box red (a value pulled into the gamut, not attained or no number) or gives it back
// the normal colour.
void MarkBox(QLineEdit* box, bool red);

// A drawing surface: shows a raster the program draws itself, one image pixel per screen pixel
// (the raster has the surface's size times the screen's device pixel ratio), and reports the
// mouse in logical pixels, the coordinates every drawing is given in.
class TImage : public QWidget {
    Q_OBJECT
  public:
    explicit TImage(QWidget* parent = nullptr);

    // The raster shown; it always has the surface's size at the surface's device pixel ratio and
    // starts filled with the window grey.
    QImage& Picture() { return picture_; }
    const QImage& Picture() const { return picture_; }
    // Replaces the raster and shows it.
    void SetPicture(const QImage& image);

  signals:
    // The raster was replaced by a blank one for another device pixel ratio (the window moved to
    // another screen, or the screen's scale changed): its owner draws it again. Queued, so it
    // never arrives while the surface paints.
    void Replaced();
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
    void MouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, int x, int y);
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int x, int y);
    // Keys while the surface has the focus; only a surface given a focus policy takes it, and
    // then shows a dotted frame.
    void KeyDown(int key, Qt::KeyboardModifiers modifiers);
    // The focus has left the surface.
    void Exit();

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    // A blank raster for the current size and ratio.
    void Renew();
    // Renews the raster when the ratio is no longer the one it was made for; true when it did.
    bool FollowRatio();

    QImage picture_;
    qreal ratio_ = 1.0;  // the device pixel ratio picture_ was made for
};
