#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/Xml.h"

// The installation's fixed settings from options.xml in the data folder, read once.
// Keys are paths below the OPTIONS root ("LOG", "TEXT.LUX"), matched without regard to case.
class Coptions {
  public:
    static constexpr const char* kFileName = "options.xml";
    // The notices the program shows (then ends) when the file is unusable, each followed by a
    // line with the file's full path.
    static constexpr const char* kMissingMessage = "File 'options.xml' not found.";
    static constexpr const char* kUnreadableMessage = "File 'options.xml' cannot be read.";
    static constexpr const char* kDamagedMessage =
        "File 'options.xml' is damaged: it holds no OPTIONS settings.";
    static constexpr const char* kMissingCaption = "Error";

    // Why the file could not be used.
    enum class Problem { None, Missing, Unreadable, Damaged };

    // Loads dataFolder/options.xml. A missing, unreadable or damaged file (one whose root is
    // not OPTIONS) leaves every key missing and Loaded() false.
    explicit Coptions(const std::string& dataFolder);

    bool Loaded() const { return problem_ == Problem::None; }
    Problem FileProblem() const { return problem_; }
    // The notice for the problem and, on its second line, the file's path; empty when loaded.
    std::string ProblemText() const;
    const std::string& FilePath() const { return filePath_; }

    // The value text; empty when the element is missing.
    std::string GetString(std::string_view key) const;
    // The value as a real number, "," read as "."; the longest number at the start counts,
    // 0 when there is none. A number beyond the range of a real (1e999) reads as missing, 0;
    // large finite values come back as they are: clamp before converting.
    double GetFloat(std::string_view key) const;
    // A chromaticity or chromaticity offset (OFFSET_X, R.X ...): GetFloat kept within
    // kChromaticityMin..kChromaticityMax, since nothing outside is a real colour.
    double GetChromaticity(std::string_view key) const;
    static constexpr double kChromaticityMin = -1.0;
    static constexpr double kChromaticityMax = 2.0;
    // True when the value read as an integer is greater than 0.
    bool GetBool(std::string_view key) const;
    // The value read as a whole number (digits up to the first other character); 0 when missing.
    std::int32_t GetInt(std::string_view key) const;
    // Number of simulated lamps for the demo mode: the key SIMULATE, 0 (the real bridge) when
    // missing or negative, at most kMaxSimulatedLamps. A value that is no whole number ("yes")
    // gives one simulated lamp: a word must not quietly send the program to a real lamp.
    int SimulatedLamps() const;
    static constexpr int kMaxSimulatedLamps = 16;
    // How long a match waits for one reading, whichever source gives it (MATCH.WAIT, seconds):
    // long enough for a user to take a reading at the instrument. Missing, not a number, or
    // outside 0..kLongestMatchWait seconds, it is kDefaultMatchWait.
    int MatchWaitMs() const;
    static constexpr int kDefaultMatchWait = 120;
    static constexpr int kLongestMatchWait = 3600;

    // A value of a key the program reads that does not read as that key's kind, and what the
    // program uses instead.
    struct Misread {
        std::string key;
        std::string value;  // as written, cut to a few characters
        std::string used;   // "38400", "off", "one simulated lamp"
    };
    // Every such value in the file, in the order of the key table.
    std::vector<Misread> Misreads() const;
    // "SPEED "abc" not understood: 38400 used".
    static std::string MisreadText(const Misread& misread);
    // A choice the user makes in the program and keeps across restarts: the flag is set for
    // this run and written into the file as 1 or 0. The file is read afresh first, so an edit
    // made to it meanwhile stays; a file that is missing or does not read whole is not
    // rewritten (false), so nothing of it is lost, and the flag then holds for this run only.
    bool StoreFlag(std::string_view key, bool on);
    // The user's choice that the lamp follows a drag on the diagram and the sliders; off when
    // the key is missing.
    static constexpr const char* kFollowKey = "FOLLOW";

  private:
    CXML document_;
    std::string filePath_;
    Problem problem_ = Problem::None;
};
