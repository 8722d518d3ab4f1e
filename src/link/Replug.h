#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <thread>
#include <vector>

class CLampState;

// The lamps that leave the bus or stop answering, and how they are taken back: the bus is looked
// at now and then, and a lamp seen again is tried on a thread of its own so that a silent one
// costs the passes nothing. Runs on the controller's thread, on the controller's lamps.
class CLampReplug {
  public:
    explicit CLampReplug(CLampState& state) : s_(state) {}
    CLampReplug(const CLampReplug&) = delete;
    CLampReplug& operator=(const CLampReplug&) = delete;

    // Lets go of each held lamp that has gone (see CLightInput::Lost).
    void NoteLostLamps();
    // While a lamp is missing: looks at the bus now and then and takes back what came back.
    void LookForLamps();
    // Collects the tries that have ended: welcomes the lamps that came back and sets the next
    // try for the others.
    void CollectAttempts();
    // Waits for every try to end (collected later), before the lamps are lent or shut down.
    void JoinAttempts();
    // A try of the lamp at this index into the controller's lamps is running or not collected:
    // the controller leaves that lamp alone meanwhile.
    bool Attempting(std::size_t index) const { return attempts_.count(index) != 0; }

  private:
    // A lost lamp is connected again on a thread of its own, so that a lamp which is plugged
    // in but silent costs the others no reply wait while it is tried.
    void StartAttempt(std::size_t index);
    // Gives lamps connected again (indexes into the controller's lamps) the current state and
    // record, all at once, and holds them again.
    void Welcome(const std::vector<std::size_t>& indexes);

    CLampState& s_;
    struct Attempt {
        std::thread thread;
        std::atomic<bool> done{false};
        std::int32_t result = 0;  // Connect's, set before done
    };
    // Tries running or ended and not yet collected, by index into the controller's lamps.
    std::map<std::size_t, std::unique_ptr<Attempt>> attempts_;
    std::uint32_t nextLook_ = 0;
    std::uint32_t nextStartTry_ = 0;
    std::uint32_t startRetryMs_ = 0;
};
