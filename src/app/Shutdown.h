#pragma once
#include <QObject>

class QSocketNotifier;
class QWidget;

// Ends the program the way the window's close button does when the system asks it to: on
// SIGTERM, SIGINT and SIGHUP, and when the desktop session ends. The window's close stores the
// channel names, lets the lamps go and frees the one-copy guard; it runs once however many
// requests arrive. A signal handler may do almost nothing, so it only writes a byte to a pipe
// that the window's thread watches. One object at a time; once it goes, further requests are
// ignored, since the program is ending.
class CShutdown : public QObject {
  public:
    explicit CShutdown(QWidget& window);
    ~CShutdown() override;
    CShutdown(const CShutdown&) = delete;
    CShutdown& operator=(const CShutdown&) = delete;

    // False when the pipe or the handlers could not be set up; the program runs on without.
    bool Installed() const { return notifier_ != nullptr; }

  private:
    // Closes the window; once it has closed, every event loop is told to end.
    void CloseWindow();

    QWidget& window_;
    QSocketNotifier* notifier_ = nullptr;
};
