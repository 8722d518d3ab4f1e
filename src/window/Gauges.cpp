#include "window/Gauges.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "window/Canvas.h"

namespace {

constexpr QRgb kGrey = qRgb(122, 122, 122);
constexpr QRgb kLight = qRgb(160, 160, 160);
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr int kRowHeight = 29;

void Frame(Canvas& c, const PixelRect& r, QRgb colour) {
    c.FillRect({r.left, r.top, r.right, r.top + 1}, colour);
    c.FillRect({r.left, r.bottom - 1, r.right, r.bottom}, colour);
    c.FillRect({r.left, r.top, r.left + 1, r.bottom}, colour);
    c.FillRect({r.right - 1, r.top, r.right, r.bottom}, colour);
}

void Resize(QImage& image, int width, int height) {
    if (image.width() != width || image.height() != height ||
        image.format() != QImage::Format_RGB32) {
        image = QImage(width, height, QImage::Format_RGB32);
    }
}

}  // namespace

QString ChannelListText(const ChannelListState& state, int row) {
    if (row == 0) return QStringLiteral("Turned off");
    if (row == 1 && !state.firstChannelEditable) return QStringLiteral("UV");
    if (row < 0 || row >= static_cast<int>(state.names.size())) return {};
    return QString::fromLatin1(state.names[static_cast<std::size_t>(row)]);
}

void DrawChannelList(QImage& image, const ChannelListState& state) {
    Resize(image, 150, 319);
    Canvas c(image);
    c.Fill(kGrey);
    const QFont font = ArialFont(12, true);
    for (int i = 0; i <= 10; ++i) {
        const int top = kRowHeight * i;
        const bool marked =
            (i == 0 && state.lampOff) || (i > 0 && !state.lampOff && state.slot == i);
        Frame(c, {0, top, 150, top + kRowHeight}, state.slot == i ? kLight : kGrey);
        const QRgb fill = marked ? kLight : kGrey;
        c.FillRect({2, top + 2, 148, top + 27}, fill);
        const QString text = ChannelListText(state, i);
        const int height = Canvas::TextExtent(text, font).height();
        c.Text(6, top + 2 + (25 - height) / 2, text, font, marked ? kWhite : kBlack, fill);
    }
}

ChannelListPress PressChannelList(int Y) {
    const int row = std::max(Y, 0) / kRowHeight;
    if (row == 0) return {true, 0};
    return {false, std::min(row, 10)};
}

QString SleepTimerText(int timeoutSeconds) {
    if (timeoutSeconds <= 0) return QStringLiteral("off");
    return QString::asprintf("%02d:%02d", timeoutSeconds / 60, timeoutSeconds % 60);
}

void DrawSleepTimer(QImage& image, int timeoutSeconds) {
    Resize(image, 160, 50);
    Canvas c(image);
    c.Fill(kGrey);
    const QFont font = ArialFont(36, true);
    const QString text = SleepTimerText(timeoutSeconds);
    c.Text(80 - Canvas::TextExtent(text, font).width() / 2, -4, text, font, kBlack);
}

int SleepTimerStep(int X, bool rightButton) {
    const int step = X < 80 ? 60 : 10;
    return rightButton ? -step : step;
}

void DrawSleepGauge(QImage& image, int timeoutSeconds, int remainingSeconds, bool lampOff) {
    Resize(image, 80, 80);
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

std::vector<std::string> MemoLines(const std::array<std::int32_t, 16>& values,
                                   const GamutTriangle& gamut,
                                   const std::array<float, 64>& temperatures) {
    static const char kLabels[] = "W R G B1B2v T x y Y 1 2 - 3 - - - - - - - - - ";
    static constexpr std::array<int, 16> kSlot{5, 0, 2,  3,  1,  4,  6,  7,
                                               8, 9, 10, 11, 12, 13, 14, 15};
    std::vector<std::string> lines;
    char text[64];
    for (int k = 0; k < 16; ++k) {
        std::snprintf(text, sizeof text, "%c%c: %d", kLabels[2 * k], kLabels[2 * k + 1],
                      values[static_cast<std::size_t>(kSlot[static_cast<std::size_t>(k)])]);
        lines.emplace_back(text);
    }
    for (int k = 0; k < 3; ++k) {
        const Chromaticity corner = gamut.Corner(k);
        std::snprintf(text, sizeof text, "x%d: %4.4f", k + 1, static_cast<double>(corner.x));
        lines.emplace_back(text);
        std::snprintf(text, sizeof text, "y%d: %4.4f", k + 1, static_cast<double>(corner.y));
        lines.emplace_back(text);
    }
    double sum = 0;
    int count = 0;
    for (float t : temperatures) {
        if (t > 0) {
            sum += t;
            ++count;
        }
    }
    if (count == 0) {
        lines.emplace_back("T : ---");
    } else {
        std::snprintf(text, sizeof text, "T : %2.1f", sum / count);
        lines.emplace_back(text);
    }
    return lines;
}
