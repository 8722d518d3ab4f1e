#pragma once
#include <string>

#include "match/Readings.h"

// Readings from a program the user names (the option MATCH.COMMAND): run once per reading
// through the shell, its first line of output is the reading ("x y lux" or "X Y Z"), so an
// instrument's own command-line tool can be wrapped in one line of shell.
class ReadingCommand : public ReadingSource {
  public:
    // waitMs: how long one run may take before it is stopped and counts as no reading.
    ReadingCommand(std::string command, int waitMs);
    ReadingResult Read(std::stop_token stop) override;
    std::chrono::milliseconds ReadLimit() const override {
        return std::chrono::milliseconds(waitMs_);
    }

  private:
    std::string command_;
    int waitMs_;
};
