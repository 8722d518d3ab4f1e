#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "colour/Colorspro.h"

class CChannel;

// What the main page takes back from the record the lamp reports: the target, the slider
// positions and the boxes. No toolkit here; the window shows the result.
struct RecordTarget {
    int Temperature = 0;
    float X = 0;  // the record's chromaticity without the offsets
    float Y = 0;
    int Lux = 0;
    // Slider positions, each 0..1000: coefficients WR, BUV, B1B2, the intensity, and the
    // channel values of record slots 0..5 (slot value div 4).
    int Wr = 0;
    int Buv = 0;
    int B1b2 = 0;
    int Intensity = 0;
    std::array<int, 6> Channels{};
    bool Coefficients = false;  // option bit 0
    bool Uv = false;            // option bit 1
    bool Max = false;           // option bit 2
    bool Direct = false;        // mode bit 2
    bool Log = false;           // display bit 0
    bool LuxScale = false;      // display bit 1
    int SpeedIndex = 0;
};

// Decodes a reported record. Values the lamp reports beyond their range are held to the
// sliders' 0..1000, so no thumb is drawn off its image.
RecordTarget DecodeRecord(const CChannel& record, double offsetX, double offsetY);

// Whether the refresh pulls a reported point into the gamut: not for x or y at or below 0, and
// not in direct mode, where the lamp is sent no correction and the point shows as it is.
bool ConstrainsRecordPoint(const RecordTarget& target);

// Writes the decoded positions into the window's slider array: [0..2], [7], [10..15], [20..25].
void TakeSliders(const RecordTarget& target, std::array<int, 32>& controlValues);

// The temperature box is red for a temperature outside 2501..9999 K.
bool TemperatureOutOfRange(int kelvin);
// The lux box's number: leading blanks, an optional sign, then digits up to the first other
// character; 0 without digits, held to the int range.
int LuxBoxNumber(std::string_view text);
// Whether the lux box turns red: only on the first report after an apply, when the lamp's lux
// differs from the box and "max" was not applied.
bool LuxBoxRed(std::string_view text, int lux, bool pendingConfirmation, bool maxFlag);
// The text the lux box gets: the lamp's lux below 3000; nothing (the user's text stays) above.
std::optional<std::string> LuxBoxText(int lux);

// Decides when the refresh sends a gamut-corrected target for a reported one. A correction is
// sent only when it moves the point by more than one step of the lamp's 16-bit x or y, never
// for a record in direct mode (it would switch the lamp out of it), never for the correction
// sent last coming back, and at most once for the same reported record, so a point that comes
// back still outside cannot make every refresh resend or walk the lamp's point away.
class GamutCorrection {
  public:
    static constexpr std::size_t kMemory = 16;

    // `moved`: ConstrainToGamut moved (x, y) from the reported point to (correctedX,
    // correctedY). True when the corrected target is to be sent; the record is remembered then.
    bool ShouldResend(const CChannel& reported, bool moved, float correctedX, float correctedY,
                      double offsetX, double offsetY);
    // A reported record inside the gamut ends the chain of corrections.
    void Forget() {
        seen_.clear();
        lastSent_.reset();
    }

  private:
    struct Key {
        std::array<std::int32_t, 16> values;
        std::int32_t mode;
        std::int32_t display;
        bool operator==(const Key&) const = default;
    };
    std::vector<Key> seen_;
    std::optional<std::array<std::int32_t, 2>> lastSent_;  // x and y of the last correction
};
