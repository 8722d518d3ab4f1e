#pragma once
#include <QFrame>

// A page or group panel in the window's grey, optionally framed by a raised outer bevel around
// a lowered inner one.
class TPanel : public QFrame {
    Q_OBJECT
    Q_PROPERTY(bool bevel READ bevel WRITE setBevel)
  public:
    explicit TPanel(QWidget* parent = nullptr);

    bool bevel() const { return bevel_; }
    void setBevel(bool on);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool bevel_ = false;
};
