#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "Examplegamut.h"
#include "colour/Diagramfill.h"

namespace {

// The other model the diagram builds besides the example gamut's: PrimarySet 0, which is what
// remains when the options have no usable corners.
Ccolors PrimarySetZeroModel() {
    Ccolors model;
    model.SetTemperature(5000, 0, -1.0f);
    const Chromaticity white = LocusPoint(5000);
    model.SetWhiteAndPrimaries(white.x, white.y, 0, 0, 0, 0, 0, 0, -1.0f);  // missing keys
    return model;
}

TEST(DiagramFill, ViewMapping) {
    const Chromaticity a = FillChromaticity(kNormalView, 1, 1);
    EXPECT_FLOAT_EQ(a.x, 0.0028f);
    EXPECT_FLOAT_EQ(a.y, 0.0028f);
    const Chromaticity b = FillChromaticity(kNormalView, 399, 304);
    EXPECT_NEAR(b.x, 1.1172f, 1e-6f);
    EXPECT_NEAR(b.y, 0.8512f, 1e-6f);
    const Chromaticity z = FillChromaticity(kZoomedView, 100, 100);
    EXPECT_NEAR(z.x, 0.26f + 0.056f, 1e-6f);
    EXPECT_NEAR(z.y, 0.28f + 0.056f, 1e-6f);
}

TEST(DiagramFill, SrgbThresholdsBracketEveryWholeValue) {
    const Ccolors srgb;
    const SrgbThresholds& t = SrgbEncodeThresholds();
    const auto below = [](float f) { return std::nextafter(f, -1.0f); };
    for (int k = 1; k <= 255; ++k) {
        const float at = t.Threshold[static_cast<std::size_t>(k)];
        EXPECT_GE(srgb.Encode(at), static_cast<float>(k)) << k;
        EXPECT_LT(srgb.Encode(below(at)), static_cast<float>(k)) << k;
    }
    EXPECT_LE(srgb.Encode(t.Upper), 255.0f);
    EXPECT_GT(srgb.Encode(std::nextafter(t.Upper, 2.0f)), 255.0f);
    EXPECT_NEAR(t.Upper, 1.0f, 1e-5f);
    // Every value from the first threshold to Upper falls in a bucket of the table.
    EXPECT_GE(t.Threshold[1], SrgbThresholds::BucketBottom(0));
    EXPECT_LT(t.Upper, SrgbThresholds::BucketBottom(t.BucketStart.size()));
    // No bucket holds two thresholds, so one comparison after the bucket's start suffices.
    for (int k = 2; k <= 255; ++k) {
        EXPECT_NE(SrgbThresholds::Bucket(t.Threshold[static_cast<std::size_t>(k)]),
                  SrgbThresholds::Bucket(t.Threshold[static_cast<std::size_t>(k - 1)]))
            << k;
    }
}

TEST(DiagramFill, ReferenceSearchPicksBrightestDisplayable) {
    const Ccolors model = PrimarySetZeroModel();
    // The model's own white is displayable at full luminance, as (nearly) 255, 255, 255.
    const Chromaticity w = LocusPoint(5000);
    const DiagramColour white = BrightestColourReference(model, w.x, w.y);
    EXPECT_EQ(white.n, 100);
    EXPECT_GE(white.R, 254);
    EXPECT_GE(white.G, 254);
    EXPECT_GE(white.B, 254);
    // Far outside the spectrum locus nothing is displayable.
    EXPECT_EQ(BrightestColourReference(model, 1.0f, 0.8f).n, 0);
    // A saturated blue is only displayable dimmed.
    const DiagramColour blue = BrightestColourReference(model, 0.17f, 0.09f);
    EXPECT_GT(blue.n, 0);
    EXPECT_LT(blue.n, 30);
    EXPECT_GT(blue.B, blue.R);
}

TEST(DiagramFill, FastSearchEqualsReferenceOnEveryPixel) {
    struct Model {
        const char* what;
        Ccolors model;
    };
    const Model models[] = {{"example gamut", ExampleGamutModel()},
                            {"PrimarySet 0", PrimarySetZeroModel()}};
    const DiagramView views[] = {kNormalView, kZoomedView};
    for (const Model& m : models) {
        for (const DiagramView& view : views) {
            SCOPED_TRACE(std::string(m.what) + (view.Zoom == 1 ? ", normal" : ", zoomed"));
            const std::vector<DiagramColour> fast = FillDiagram(m.model, view);
            const std::vector<DiagramColour> reference = FillDiagramReference(m.model, view);
            ASSERT_EQ(fast.size(), reference.size());
            int shown = 0;
            int mismatches = 0;
            for (std::size_t i = 0; i < fast.size(); ++i) {
                const DiagramColour& f = fast[i];
                const DiagramColour& r = reference[i];
                if (f.n != r.n || f.R != r.R || f.G != r.G || f.B != r.B) {
                    if (++mismatches <= 5) {
                        ADD_FAILURE() << "cell k=" << i % kFillWidth + 1
                                      << " l=" << i / kFillWidth + 1 << ": fast n=" << f.n << " ("
                                      << f.R << "," << f.G << "," << f.B << ") reference n=" << r.n
                                      << " (" << r.R << "," << r.G << "," << r.B << ")";
                    }
                }
                shown += r.n > 0 ? 1 : 0;
            }
            EXPECT_EQ(mismatches, 0);
            // The comparison means something only if shown cells occur, and in the normal view
            // (which reaches far beyond any gamut) empty ones too.
            EXPECT_GT(shown, 1000);
            if (view.Zoom == 1) {
                EXPECT_LT(shown, static_cast<int>(fast.size()) / 2);
            }
        }
    }
}

}  // namespace
