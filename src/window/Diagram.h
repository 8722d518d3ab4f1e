#pragma once
#include <QImage>
#include <QPointF>
#include <QString>
#include <array>
#include <optional>

#include "colour/Colorspro.h"
#include "colour/Diagramfill.h"
#include "window/Canvas.h"

// What the diagram reads from the lamp controller on every redraw.
struct DiagramLamp {
    GamutTriangle gamut;
    float transitionX = 0.0f;
    float transitionY = 0.0f;
    int transitionTimeLeft = 0;  // seconds; 0 or less: no transition runs
};

// What a redraw tells the window to show beside the diagram.
struct DiagramLabels {
    bool transition = false;  // show "Color transformation"
    QString secondsLeft;      // "12s" while a transition runs, else empty
};

// What a pointer press on the diagram hits.
enum class DiagramHit {
    Nothing,  // ignored
    Zoom,     // the zoom button: the view has switched; redraw with the current point
    Speed,    // a speed button: the new index is in DiagramPress::speedIndex
    Plot,     // the plot area: picking has started; pick the point under the pointer
};

struct DiagramPress {
    DiagramHit hit = DiagramHit::Nothing;
    int speedIndex = 0;
};

// A picked point: the clamped chromaticity, pulled into the gamut when `outside`.
struct DiagramPick {
    float x = 0.0f;
    float y = 0.0f;
    bool outside = false;  // the point lay outside the gamut: the x and y boxes turn red
};

// The chromaticity diagram view: builds its two cached views once, redraws the whole picture
// for a point, maps pixels to chromaticities and back and decides what a press hits. It knows
// no widget: the window passes an image to draw into and acts on the results.
class Diagram {
  public:
    static constexpr int kWidth = 500;
    static constexpr int kHeight = 330;
    static constexpr QRgb kBackground = 0xff7a7a7a;  // (122,122,122)
    static constexpr QRgb kButtonGrey = 0xffa0a0a0;  // (160,160,160)
    static constexpr int kSpeedButtons = 5;

    // fillCorners: the gamut corners R.X, R.Y, G.X, G.Y, B.X, B.Y from the options, which
    // colour the fill; picturePath: the optional background picture, read on the first redraw.
    Diagram(const std::array<float, 6>& fillCorners, QString picturePath);

    // Draws the whole view for (x, y) into `image` (made 500 x 330 logical pixels at its own
    // device pixel ratio if it is not) and makes (x, y) the current point. The first call, and
    // the first at another ratio, builds the cached views.
    DiagramLabels Redraw(QImage& image, float x, float y, const DiagramLamp& lamp, int speedIndex);

    // The rules for a press at (X, Y); a zoom press switches the view, a plot press starts
    // picking. A protected first channel ignores every press.
    DiagramPress Press(int X, int Y, bool firstChannelProtected);
    // The chromaticity under (X, Y) in the current view, clamped to 0.01..0.7 and pulled into
    // the gamut towards `white`.
    DiagramPick Pick(int X, int Y, const GamutTriangle& gamut, Chromaticity white) const;
    // An arrow key in the focused diagram: the pixel (dx, dy) pixels of the current view away
    // from where the current point is drawn (from `fallback` while no point is drawn), which
    // the window picks as a drag there would. The stepped point waits to be sent, so Release()
    // then sends it as a pointer release does; the pointer does not pick meanwhile. Nothing
    // while the first channel is protected.
    std::optional<PixelPoint> KeyStep(int dx, int dy, bool firstChannelProtected,
                                      Chromaticity fallback);
    // Ends picking; true when a picked or stepped point waits (the window then applies it).
    bool Release();
    // The point in the x and y boxes was sent by other means: a key step waits no longer.
    void Sent() { stepped_ = false; }
    // A point picked by the pointer or the keys waits to be sent.
    bool Picking() const { return picking_ || stepped_; }
    // The pointer was pressed in the plot area and not yet released: its moves pick.
    bool Dragging() const { return picking_; }

    bool Zoomed() const { return zoomed_; }
    const DiagramView& View() const { return zoomed_ ? kZoomedView : kNormalView; }
    // The point last drawn; (-100, -100), off the view, until the first redraw.
    Chromaticity CurrentPoint() const { return current_; }

    // The pixel of a chromaticity in a view; far-off or non-finite values land far outside.
    static PixelPoint ToPixel(const DiagramView& view, float x, float y);
    // The same point unrounded, in logical coordinates (pixel X spans X..X + 1), for drawings
    // finer than a logical pixel.
    static QPointF ToPoint(const DiagramView& view, float x, float y);
    // The chromaticity at the centre-less pixel (X, Y) of a view, before any clamping.
    static Chromaticity ToChromaticity(const DiagramView& view, int X, int Y);

    // Cached views at a device pixel ratio, for tests and the benchmark: built on demand, then
    // kept until a view at another ratio is asked for.
    const QImage& CachedView(bool zoomed, qreal ratio = 1.0);
    bool PictureLoaded() const { return pictureLoaded_; }
    // One view built afresh, as the first redraw builds it (the picture must be read first).
    QImage BuildView(const DiagramView& view, qreal ratio = 1.0) const;

  private:
    void ReadPicture();
    void BuildViews(qreal ratio);
    void DrawSpeedButtons(Canvas& canvas, int speedIndex) const;

    std::array<float, 6> fillCorners_;
    QString picturePath_;
    QImage picture_;
    bool pictureLoaded_ = false;
    bool pictureRead_ = false;
    bool built_ = false;
    qreal builtRatio_ = 1.0;
    std::array<QImage, 2> views_;  // normal, zoomed
    // What the last redraw drew, into which picture, and what it told: the same redraw into
    // the same untouched picture (the window's timer asks twice a second) draws nothing.
    struct Drawn {
        std::array<float, 11> inputs{};  // x, y, the gamut, the transition point and time
        int speedIndex = 0;
        bool zoomed = false;
        qint64 picture = 0;
        qreal ratio = 1.0;
        DiagramLabels labels;
    };
    std::optional<Drawn> drawn_;
    bool zoomed_ = false;
    bool picking_ = false;
    bool stepped_ = false;  // a key step's point is not yet sent
    Chromaticity current_{-100.0f, -100.0f};
};
