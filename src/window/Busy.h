#pragma once
#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QDialog;

// What keeps the window from taking a change from outside now: long lamp work (a display text
// upload, a coefficient write), a match, a question or message to the user, an open file dialog.
// Each holds a BusyState::Claim for as long as it lasts; the bus service refuses changes while
// one is held, and the window takes no input during long work or while a dialog is open.
class BusyState {
  public:
    enum class Kind {
        Work,    // the lamp is busy with the window's work; the window takes no input
        Dialog,  // the window waits for the user or a match, and stays alive meanwhile
        Beside,  // a dialog is open beside the window (RunBeside); the window takes no input
    };

    // Ends its part of the busy state when released or destroyed.
    class Claim {
      public:
        Claim() = default;
        Claim(Claim&& other) noexcept;
        Claim& operator=(Claim&& other) noexcept;
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;
        ~Claim() { Release(); }
        void Release();
        bool Held() const { return owner_ != nullptr; }

      private:
        friend class BusyState;
        Claim(BusyState* owner, std::uint64_t id) : owner_(owner), id_(id) {}
        BusyState* owner_ = nullptr;
        std::uint64_t id_ = 0;
    };

    BusyState() = default;
    BusyState(const BusyState&) = delete;
    BusyState& operator=(const BusyState&) = delete;

    // `reason` says what runs, as a refused caller is told.
    [[nodiscard]] Claim Enter(Kind kind, const QString& reason);
    bool IsBusy() const { return !held_.empty(); }
    // Long work is held: the window takes no input.
    bool IsWorking() const;
    // A hold of this kind is held.
    bool Holds(Kind kind) const;
    // What the window is busy with (the earliest hold still held); empty when it is not.
    QString Reason() const;

    // How far long work has come: items done of items, and how long it has run so far.
    struct Progress {
        QString work;  // what runs, as the user knows it ("display text upload")
        int done = 0;
        int total = 0;
        qint64 elapsedMs = 0;
        bool operator==(const Progress&) const = default;
    };
    // Long work says how far it has come; the clock starts with its first word. The progress
    // goes when the last long work ends.
    void SetProgress(const QString& work, int done, int total);
    std::optional<Progress> CurrentProgress() const;

    // Runs when the last hold ends.
    std::function<void()> OnIdle;
    // Runs when the progress changes or goes.
    std::function<void()> OnProgress;

  private:
    void Leave(std::uint64_t id);

    struct Entry {
        std::uint64_t id;
        Kind kind;
        QString reason;
    };
    std::vector<Entry> held_;
    std::uint64_t lastId_ = 0;
    std::optional<Progress> progress_;
    QElapsedTimer progressClock_;
};

// Shows the dialog beside the window and returns its result once it is finished. Not modal: the
// system drops a desktop close request for a window under a modal dialog, so the program would
// wait in the dialog; the caller holds a Kind::Beside claim, so the window takes no input
// meanwhile, and the window's close rejects the dialog.
int RunBeside(QDialog& dialog);
