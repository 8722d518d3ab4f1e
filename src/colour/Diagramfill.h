#pragma once
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "colour/Colors.h"
#include "colour/Colorspro.h"

// The colour fill of the chromaticity diagram: each chromaticity is painted at the brightest
// luminance Y = n·0.01 (n = 100 down to 1) whose encoded R, G, B all lie within 0..255.

struct DiagramColour {
    int n = 0;  // the luminance step found, 0 when no step gives a displayable colour
    int R = 0;  // truncated encoded components, valid when n > 0
    int G = 0;
    int B = 0;
};

// One of the diagram's two views: zoom factor and the chromaticity at the plot's corner.
struct DiagramView {
    int Zoom = 1;
    float X0 = 0.0f;
    float Y0 = 0.0f;
};

inline constexpr DiagramView kNormalView{1, 0.0f, 0.0f};
inline constexpr DiagramView kZoomedView{5, 0.26f, 0.28f};

// The fill covers k = 1..399 across and l = 1..304 up; pixel (k + 25, 305 − l) in the view.
inline constexpr int kFillWidth = 399;
inline constexpr int kFillHeight = 304;

// Chromaticity of fill cell (k, l): (k·0.004·0.7/z + x0, l·0.004·0.7/z + y0) in float.
Chromaticity FillChromaticity(const DiagramView& view, int k, int l);
// The same between cells, for a fill drawn finer than one cell per pixel.
Chromaticity FillChromaticity(const DiagramView& view, double k, double l);

// The colour search by trying every luminance from the top; kept as the reference.
DiagramColour BrightestColourReference(const Ccolors& model, float x, float y);
// The same answer from one linear conversion and a check of the step it predicts.
DiagramColour BrightestColour(const Ccolors& model, float x, float y);

// Where the sRGB encoding (Ccolors::Encode with the sRGB curve) crosses each whole value:
// the truncated encoding of a linear L in 0..Upper is the largest k with Threshold[k] <= L,
// and values above Upper encode beyond 255.
struct SrgbThresholds {
    std::array<float, 256> Threshold;
    float Upper;

    // Linear values from 2^-12 (below the first threshold) to just under 2 fall into buckets
    // of 1/128 of a binary octave; BucketStart is the truncated encoding at a bucket's bottom.
    static constexpr std::uint32_t kFirstBucketBits = (127u - 12u) << 23;
    static constexpr int kBucketShift = 16;
    std::array<std::uint8_t, 13 * 128> BucketStart;

    static std::size_t Bucket(float linear) {
        return (std::bit_cast<std::uint32_t>(linear) - kFirstBucketBits) >> kBucketShift;
    }
    static float BucketBottom(std::size_t bucket) {
        return std::bit_cast<float>(kFirstBucketBits +
                                    (static_cast<std::uint32_t>(bucket) << kBucketShift));
    }
};
const SrgbThresholds& SrgbEncodeThresholds();

// The whole fill of a view, row l = 1..304 after row, k = 1..399 within a row:
// entry (l − 1)·399 + (k − 1).
std::vector<DiagramColour> FillDiagram(const Ccolors& model, const DiagramView& view);
std::vector<DiagramColour> FillDiagramReference(const Ccolors& model, const DiagramView& view);
// The same into a caller's vector, reusing its storage.
void FillDiagram(const Ccolors& model, const DiagramView& view, std::vector<DiagramColour>& cells);
void FillDiagramReference(const Ccolors& model, const DiagramView& view,
                          std::vector<DiagramColour>& cells);
