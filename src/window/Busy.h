#pragma once
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

// What keeps the window from taking a change from outside now: long lamp work (a display text
// upload, a coefficient write), a question to the user, an open file dialog. Each holds a
// BusyState::Hold for as long as it lasts; the bus service refuses changes while one is held,
// and the window takes no input during long work.
class BusyState {
  public:
    enum class Kind {
        Work,    // the lamp is busy with the window's work; the window takes no input
        Dialog,  // a question or file dialog is open and waits for the user
    };

    // Ends its part of the busy state when released or destroyed.
    class Hold {
      public:
        Hold() = default;
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() { Release(); }
        void Release();
        bool Held() const { return owner_ != nullptr; }

      private:
        friend class BusyState;
        Hold(BusyState* owner, std::uint64_t id) : owner_(owner), id_(id) {}
        BusyState* owner_ = nullptr;
        std::uint64_t id_ = 0;
    };

    BusyState() = default;
    BusyState(const BusyState&) = delete;
    BusyState& operator=(const BusyState&) = delete;

    // `reason` says what runs, as a refused caller is told.
    [[nodiscard]] Hold Enter(Kind kind, const QString& reason);
    bool IsBusy() const { return !held_.empty(); }
    // Long work is held: the window takes no input.
    bool IsWorking() const;
    // What the window is busy with (the earliest hold still held); empty when it is not.
    QString Reason() const;

    // Runs when the last hold ends.
    std::function<void()> OnIdle;

  private:
    void Leave(std::uint64_t id);

    struct Entry {
        std::uint64_t id;
        Kind kind;
        QString reason;
    };
    std::vector<Entry> held_;
    std::uint64_t lastId_ = 0;
};
