#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Fixture.h"
#include "settings/Channel.h"
#include "sim/Simlight.h"
#include "window/Diagram.h"
#include "window/Image.h"

namespace {

const char* const kOptions =
    "<OPTIONS><SPEED>38400</SPEED><C1S>1</C1S>"
    "<R><X>0.69</X><Y>0.30</Y></R><G><X>0.17</X><Y>0.70</Y></G><B><X>0.14</X><Y>0.05</Y></B>"
    "</OPTIONS>\n";

class MatchrunTest : public WindowFixture {
  protected:
    std::unique_ptr<TForm1> OpenWithMeter(std::uint32_t lampSeed) {
        WriteOptions(kOptions);
        lamp_ = AddLamp();
        meter_ = MeterOnLamp(lamp_, *clock_, SimLightOptions{lampSeed}, SimMeterOptions{});
        return OpenToMainPage([this](FormSetup& form) { form.readings = meter_.get(); });
    }

    static void Type(TForm1& form, const char* x, const char* y, const char* lux) {
        Find<QLineEdit>(form, "Edit1")->setText(QString::fromLatin1(x));
        Find<QLineEdit>(form, "Edit2")->setText(QString::fromLatin1(y));
        Find<QLineEdit>(form, "Edit4")->setText(QString::fromLatin1(lux));
    }

    std::shared_ptr<SimLamp> lamp_;
    std::unique_ptr<SimMeter> meter_;
};

TEST_F(MatchrunTest, MatchDrawsItsPathAndEndsWithTheResultLine) {
    auto form = OpenWithMeter(4);
    Type(*form, "0.3127", "0.3290", "500");
    auto* match = Find<QPushButton>(*form, "ButtonMatch");
    ASSERT_TRUE(match->isVisible());
    match->click();
    ASSERT_TRUE(form->Match().Running());
    // The bus is told the window is busy while the loop runs.
    EXPECT_EQ(form->BusyReason(), "a match is running");
    ASSERT_TRUE(WaitFor([&] { return !form->Match().Running(); }));
    const QString line = Find<QLabel>(*form, "LabelMatch")->text();
    EXPECT_TRUE(line == "Matched" || line == "Within the instrument's noise") << line.toStdString();
    EXPECT_EQ(form->BusyReason(), "");
    // Each reading is a mark on the diagram, white inside a black ring, joined to the next;
    // the marks near the target overlap, so only the last is whole for sure.
    const std::vector<Chromaticity>& path = form->Match().Path();
    ASSERT_GE(path.size(), 2u);
    const QImage& picture = Find<TImage>(*form, "Image1")->Picture();
    for (const Chromaticity& c : path) {
        const PixelPoint p = Diagram::ToPixel(kNormalView, c.x, c.y);
        const QRgb pixel = picture.pixel(p.x, p.y);
        EXPECT_TRUE(pixel == 0xffffffffu || pixel == 0xff000000u) << c.x << "," << c.y;
    }
    const PixelPoint last = Diagram::ToPixel(kNormalView, path.back().x, path.back().y);
    EXPECT_EQ(picture.pixel(last.x, last.y), 0xffffffffu);
    EXPECT_EQ(picture.pixel(last.x + 2, last.y), 0xff000000u);
    // The final target stays in the boxes and on the lamp, and the lamp's light is the target.
    const LightReading onLamp = LampTarget(lamp_->State());
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit1")->text(), QString::asprintf("%2.4f", onLamp.x));
    EXPECT_EQ(Find<QLineEdit>(*form, "Edit4")->text(), QString::number(std::lround(onLamp.lux)));
    const LightReading light = SimLight(SimLightOptions{4}).Emit(onLamp, 0.0);
    EXPECT_LT(UvDistance(light, {0.3127, 0.3290, 500}), 0.0015);
}

// Boxes that hold no number start nothing, as they send nothing with "Set".
TEST_F(MatchrunTest, BoxesWithoutNumbersStartNothing) {
    auto form = OpenWithMeter(4);
    const char* const boxes[][3] = {
        {"nan", "0.33", "500"}, {"0.31", "inf", "500"}, {"0.31", "0.33", "lots"}};
    for (const auto& b : boxes) {
        Type(*form, b[0], b[1], b[2]);
        Find<QPushButton>(*form, "ButtonMatch")->click();
        EXPECT_FALSE(form->Match().Running()) << b[0] << " " << b[1] << " " << b[2];
        EXPECT_EQ(Find<QLabel>(*form, "LabelMatch")->text(),
                  "Match needs numbers in the x, y and lux boxes");
        ASSERT_TRUE(WaitFor([&] { return !form->Match().Running(); }));
    }
    EXPECT_EQ(meter_->ReadingsTaken(), 0);
}

TEST_F(MatchrunTest, CancelLeavesTheBestPointAndTheWindowFree) {
    auto form = OpenWithMeter(6);
    Type(*form, "0.45", "0.41", "300");
    std::vector<MatchStep> steps;
    std::optional<MatchResult> result;
    ASSERT_TRUE(form->Match().Start(
        {0.45, 0.41, 300}, 0.0001,
        [&](const MatchStep& s) {
            steps.push_back(s);
            if (steps.size() == 2) Find<QPushButton>(*form, "ButtonCancel")->click();
        },
        [&](const MatchResult& r) { result = r; }));
    QString why;
    EXPECT_FALSE(form->Match().Start({0.3, 0.3, 100}, 0, nullptr, nullptr, &why));
    EXPECT_EQ(why, "a match is running");
    ASSERT_TRUE(WaitFor([&] { return result.has_value(); }));
    EXPECT_EQ(result->Outcome, MatchOutcome::Cancelled);
    EXPECT_TRUE(Find<QLabel>(*form, "LabelMatch")->text().startsWith("Cancelled: best"));
    // What the lamp holds is the best point's target.
    const LightReading onLamp = LampTarget(lamp_->State());
    EXPECT_NEAR(onLamp.x, result->Sent.x, 2e-5);
    EXPECT_NEAR(onLamp.lux, result->Sent.lux, 0.5);
    EXPECT_EQ(form->BusyReason(), "");
    EXPECT_TRUE(Find<QPushButton>(*form, "ButtonMatch")->isEnabled());
}

}  // namespace
