#include "window/Gauges.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "window/Canvas.h"

namespace {

constexpr QRgb kGrey = qRgb(122, 122, 122);
constexpr QRgb kLight = qRgb(160, 160, 160);
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kWhite = qRgb(255, 255, 255);

void Frame(Canvas& c, const PixelRect& r, QRgb colour) {
    c.FillRect({r.left, r.top, r.right, r.top + 1}, colour);
    c.FillRect({r.left, r.bottom - 1, r.right, r.bottom}, colour);
    c.FillRect({r.left, r.top, r.left + 1, r.bottom}, colour);
    c.FillRect({r.right - 1, r.top, r.right, r.bottom}, colour);
}

}  // namespace

QString ChannelListText(const ChannelListState& state, int row) {
    if (row == 0) return QStringLiteral("Turned off");
    if (row == 1 && !state.firstChannelEditable) return QStringLiteral("UV");
    if (row < 0 || row >= static_cast<int>(state.names.size())) return {};
    return QString::fromLatin1(state.names[static_cast<std::size_t>(row)]);
}

void DrawChannelList(QImage& image, const ChannelListState& state) {
    FitImage(image, {150, 319});
    Canvas c(image);
    c.Fill(kGrey);
    const QFont font = ArialFont(12, true);
    for (int i = 0; i <= 10; ++i) {
        const int top = kChannelRowHeight * i;
        const bool marked =
            (i == 0 && state.lampOff) || (i > 0 && !state.lampOff && state.slot == i);
        Frame(c, {0, top, 150, top + kChannelRowHeight}, state.slot == i ? kLight : kGrey);
        const QRgb fill = marked ? kLight : kGrey;
        c.FillRect({2, top + 2, 148, top + 27}, fill);
        const QString text = ChannelListText(state, i);
        const int height = Canvas::TextExtent(text, font).height();
        c.Text(6, top + 2 + (25 - height) / 2, text, font, marked ? kWhite : kBlack, fill);
    }
}

QString SleepTimerText(int timeoutSeconds) {
    if (timeoutSeconds <= 0) return QStringLiteral("off");
    return QString::asprintf("%02d:%02d", timeoutSeconds / 60, timeoutSeconds % 60);
}

void DrawSleepTimer(QImage& image, int timeoutSeconds) {
    FitImage(image, {160, 50});
    Canvas c(image);
    c.Fill(kGrey);
    const QFont font = ArialFont(36, true);
    const QString text = SleepTimerText(timeoutSeconds);
    c.Text(80 - Canvas::TextExtent(text, font).width() / 2, -4, text, font, kBlack);
}

void DrawSleepGauge(QImage& image, int timeoutSeconds, int remainingSeconds, bool lampOff) {
    FitImage(image, {80, 80});
    Canvas c(image);
    c.Fill(kGrey);
    c.Ellipse({8, 8, 72, 72}, kLight);
    if (timeoutSeconds <= 0 || lampOff || remainingSeconds >= timeoutSeconds) return;
    // Once the time is up the remaining seconds go below 0 until the lamp switches off; the
    // whole timer has elapsed then, not a sliver of it.
    const int remaining = std::max(remainingSeconds, 0);
    const float d = static_cast<float>(remaining) * 360.0f / static_cast<float>(timeoutSeconds);
    const float a = (180.0f - d) * std::numbers::pi_v<float> / 180.0f;
    const PixelPoint from{static_cast<int>(40.0f - 100.0f * std::sin(a)),
                          static_cast<int>(40.0f + 100.0f * std::cos(a))};
    if (remaining == 0) {
        c.FillEllipse({10, 10, 70, 70}, kLight, kLight);
        return;
    }
    c.Pie({10, 10, 70, 70}, from, {40, 0}, kLight, kLight);
}
