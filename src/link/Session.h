#pragma once

class CChannel;
class CLampState;

// The controller's session with the lamps at its two ends: at the start it takes the lamps,
// reads the main lamp's records and state and brings the others into line; at the end it leaves
// every lamp in a defined channel and power state and lets it go. Runs on the controller's
// thread, on the controller's lamps.
class CLampSession {
  public:
    explicit CLampSession(CLampState& state) : s_(state) {}
    CLampSession(const CLampSession&) = delete;
    CLampSession& operator=(const CLampSession&) = delete;

    // Takes the lamps; without one the controller starts from channel 0 and no timer.
    void ConnectLamps();
    // The connect sequence proper; false, with nothing held, when no main lamp answered.
    bool TakeLamps();
    // The rest of the connect, on the lamps held: power state, records, current channel and
    // names from the main lamp. False when the main lamp went before it was through.
    bool LoadLamps();
    void ShutDown();

  private:
    void NameChannels();
    // A record sent to or read from a lamp goes back only if the window did not change it
    // while the exchange ran.
    template <typename Exchange>
    void ExchangeRecord(int n, Exchange&& exchange);

    CLampState& s_;
};
