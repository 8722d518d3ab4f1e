#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "colour/Expvalue.h"

class CChannel;

// The window's own state behind the light target: plain values that every view of the main
// window reads and the later views extend. No toolkit here; the check boxes and text boxes stay
// the truth for what they show and are read into TargetBoxes when a target is applied.
struct WindowState {
    static constexpr int kControlCount = 32;

    // Slider positions 0..1000: [0] WR, [1] BUV and [2] B1B2 coefficients, [7] intensity,
    // [10..15] the direct values of record slots 0..5; [20..25] the lamp's channel values read
    // back (slot value div 4).
    std::array<int, kControlCount> ControlValues = [] {
        std::array<int, kControlCount> values{};
        values[0] = values[1] = values[2] = 500;
        values[7] = 1000;
        return values;
    }();
    // The options OFFSET_X and OFFSET_Y, added to x and y on the way to the lamp.
    double OffsetX = 0;
    double OffsetY = 0;
    int LuxValue = 100;                // the lux box's value at the last apply, 10..65535
    bool MaxFlag = false;              // "max" was checked at the last apply
    bool CorrectionFlag = false;       // the last apply was a gamut correction by the refresh
    bool PendingConfirmation = false;  // set by every apply, cleared by the next refresh
    int SpeedIndex = 1;                // transition speed: 0 "F", 1 "S", 2 "30", 3 "60", 4 "120"
    int LogOffset = ::LogOffset();     // position of the logarithmic intensity slider's 0
    // Set while code sets check boxes whose handlers must not apply anything.
    bool SuppressHandlers = false;
    bool DirectModeAvailable = false;  // the option SD
};

// Sets the handler-suppress flag for a scope and puts back what was there before.
class SuppressedHandlers {
  public:
    explicit SuppressedHandlers(WindowState& state)
        : state_(state), previous_(state.SuppressHandlers) {
        state_.SuppressHandlers = true;
    }
    ~SuppressedHandlers() { state_.SuppressHandlers = previous_; }
    SuppressedHandlers(const SuppressedHandlers&) = delete;
    SuppressedHandlers& operator=(const SuppressedHandlers&) = delete;

  private:
    WindowState& state_;
    bool previous_;
};

// What the target's check boxes and the lux box hold when a target is applied.
struct TargetBoxes {
    bool Coefficients = false;  // "coefficients"
    bool Uv = false;            // UV
    bool Max = false;           // "max"
    bool Log = false;           // "log"
    bool Lux = false;           // "lux"
    bool Direct = false;        // "direct values"
    std::string LuxText = "100";
};

// The lamp record written by one apply, and what the window shows and keeps from it.
struct RecordImage {
    float X = 0.01f;  // the target after clamping, without offsets
    float Y = 0.01f;
    int Temperature = 0;  // nearest locus temperature, also shown in the T box
    int LuxValue = 10;    // the lux box's value; slot 9 carries 3000 instead when Max
    bool Max = false;
    bool Correction = false;
    bool MarkName = false;
    std::array<std::int32_t, 15> Values{};  // ColorValues[0..14]; slot 15 is never written
    std::int32_t ModeFlags = 1;
    std::int32_t DisplayFlags = 0;
};

// The whole record image for target (x, y) from the window's state and boxes. x and y are held
// to 0.01..0.7 (not a number counts as 0); the sliders are read clamped to 0..1000.
RecordImage MakeRecordImage(const WindowState& state, const TargetBoxes& boxes, float x, float y,
                            bool markName, bool correction);
// Writes slots 0..14, both flag words and, when asked, the name marking into the record; slot
// 15, the slot number and the info word stay.
void WriteRecordImage(const RecordImage& image, CChannel& record);
// A chromaticity that the record's fixed point `fixed` stands for exactly: ChromaticityToFixed
// of it with the offset gives `fixed` back.
float HeldChromaticity(std::int32_t fixed, double offset);
// An apply whose point is the one the record already holds keeps the record's temperature when
// it lies within 1 K of the one worked out again: the same point to the lamp's precision must
// not move the colour temperature by a rounding.
void KeepHeldTemperature(RecordImage& image, const CChannel& held);

// What the window keeps after an apply: lux value, max and correction flags, the pending
// confirmation, and the sliders clamped to 0..1000.
void NoteApplied(WindowState& state, const RecordImage& image);

// A changed setting's name: "*" for an empty one, else the first 15 characters (without a
// trailing "*") followed by "*".
std::string MarkedName(const std::string& name);
// Bit 0 "log", bit 1 "lux", bit 2 speed index 0, bits 3-4 speed index - 1 for indexes 1..4.
std::int32_t DisplayFlagsFor(bool log, bool lux, int speedIndex);

// Texts typed by the user. Every "," counts as ".", leading blanks are skipped and the longest
// number at the start counts; no number, not a number, infinity and a number beyond the float
// range read as 0.
float ChromaticityFromText(std::string_view text);
// The lux box: the whole number at its start, held to 10..65535 so the 16-bit slot never wraps.
int LuxFromText(std::string_view text);
// The temperature box: the whole number at its start (no comma replacement), 0 when there is
// none, saturating far beyond any temperature; LocusPoint clamps it to the table.
int TemperatureFromText(std::string_view text);

// What the user types into the x, y, temperature and lux boxes. Unlike the files' texts, a box
// must hold one number and nothing else (blanks around it allowed, "," read as "."): text that
// is not a number, or a number beyond the range of a double, gives nothing, so the window can
// refuse it instead of sending a target nobody typed.
std::optional<double> TypedNumber(std::string_view text);
// The x or y box; a number far outside 0..1 stays far outside, to be clamped by the apply.
std::optional<float> TypedChromaticity(std::string_view text);
// The lux box: the whole part of the number, held to 10..65535.
std::optional<int> TypedLux(std::string_view text);
// The temperature box: the whole part of the number, held to the int range.
std::optional<int> TypedTemperature(std::string_view text);
