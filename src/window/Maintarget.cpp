// The main window's target: its boxes, the chromaticity diagram, and sending the target to the
// current channel.
#include <QLineEdit>
#include <algorithm>

#include "colour/Colors.h"
#include "colour/Colorspro.h"
#include "colour/Expvalue.h"
#include "link/Lamp.h"
#include "settings/Channel.h"
#include "ui_Main.h"
#include "window/Image.h"
#include "window/Main.h"

namespace {

std::string BoxText(const QLineEdit* box) {
    return box->text().toLatin1().toStdString();
}

}  // namespace

TargetBoxes TForm1::ReadTargetBoxes() const {
    TargetBoxes boxes;
    boxes.Coefficients = ui->CheckBox1->isChecked();
    boxes.Uv = ui->CheckBox2->isChecked();
    boxes.Max = ui->CheckBox3->isChecked();
    boxes.Log = ui->CheckBox4->isChecked();
    boxes.Lux = ui->CheckBox5->isChecked();
    boxes.Direct = ui->CheckBox6->isChecked();
    boxes.LuxText = BoxText(ui->Edit4);
    return boxes;
}

bool TForm1::ApplyTarget(float x, float y, bool markName, bool correction) {
    if (!controller_) return false;
    TargetBoxes boxes = ReadTargetBoxes();
    std::optional<int> lux = TypedLux(boxes.LuxText);
    if (!lux && correction) {
        // The refresh's own correction keeps the lux the lamp reported.
        lux = state_.LuxValue;
    } else {
        NoteTyped(ui->Edit4, lux.has_value());
        if (!lux) return false;
    }
    const std::optional<double> typedLux = TypedNumber(boxes.LuxText);
    boxes.LuxText = std::to_string(*lux);
    RecordImage image = MakeRecordImage(state_, boxes, x, y, markName, correction);
    KeepHeldTemperature(image, controller_->CurrentRecord());
    RedrawDiagram(image.X, image.Y);
    // One edit, so the controller never sends half of the new record.
    controller_->EditCurrentRecord([&](CChannel& record) { WriteRecordImage(image, record); });
    NoteApplied(state_, image);
    controller_->ResendCurrentChannel();
    if (!controller_->IsConnected()) {
        // The boxes show the change, so the banner says that it went nowhere.
        changeNotSent_ = true;
        ShowNoLampBanner();
    }

    ui->Edit1->setText(QString::asprintf("%2.4f", static_cast<double>(image.X)));
    ui->Edit2->setText(QString::asprintf("%2.4f", static_cast<double>(image.Y)));
    ui->Edit3->setText(QString::number(image.Temperature));
    // A lux the apply held to its range or cut to whole lux shows as sent.
    if (typedLux && *typedLux != static_cast<double>(image.LuxValue)) {
        ui->Edit4->setText(QString::number(image.LuxValue));
    }
    RedrawSliders();
    RedrawIntensity();
    ui->Image9->Picture().fill(kWindowGrey);
    ui->Image9->update();
    return true;
}

void TForm1::NoteTyped(QLineEdit* box, bool readable) {
    const auto it = std::find(unreadable_.begin(), unreadable_.end(), box);
    if (!readable) {
        MarkBox(box, true);
        if (it == unreadable_.end()) unreadable_.push_back(box);
    } else if (it != unreadable_.end()) {
        MarkBox(box, false);
        unreadable_.erase(it);
    }
}

bool TForm1::TargetBoxesReadable() {
    const bool x = TypedChromaticity(BoxText(ui->Edit1)).has_value();
    const bool y = TypedChromaticity(BoxText(ui->Edit2)).has_value();
    const bool lux = TypedLux(BoxText(ui->Edit4)).has_value();
    NoteTyped(ui->Edit1, x);
    NoteTyped(ui->Edit2, y);
    NoteTyped(ui->Edit4, lux);
    return x && y && lux;
}

bool TForm1::ApplyFromEdits(bool correction) {
    std::optional<float> x = TypedChromaticity(BoxText(ui->Edit1));
    std::optional<float> y = TypedChromaticity(BoxText(ui->Edit2));
    // Boxes that still show the record's point send that point, not its four shown decimals:
    // reopening a panel or ticking a box changes nothing of the light the user set.
    const CChannel held = controller_ ? controller_->CurrentRecord() : CChannel();
    const float heldX = HeldChromaticity(held.ColorValues[7], state_.OffsetX);
    const float heldY = HeldChromaticity(held.ColorValues[8], state_.OffsetY);
    const auto shows = [](const QLineEdit* box, float c) {
        return box->text() == QString::asprintf("%2.4f", static_cast<double>(c));
    };
    if (x && y && shows(ui->Edit1, heldX) && shows(ui->Edit2, heldY)) {
        // The drawn point is the one last sent, when it is the record's: it keeps its float.
        const Chromaticity drawn = diagram_->CurrentPoint();
        const bool drawnHeld =
            ChromaticityToFixed(drawn.x, state_.OffsetX) == held.ColorValues[7] &&
            ChromaticityToFixed(drawn.y, state_.OffsetY) == held.ColorValues[8];
        x = drawnHeld ? drawn.x : heldX;
        y = drawnHeld ? drawn.y : heldY;
    }
    NoteTyped(ui->Edit1, x.has_value());
    NoteTyped(ui->Edit2, y.has_value());
    // Text that is no number sends nothing: the lamp keeps its light.
    if (!x || !y || !ApplyTarget(*x, *y, true, correction)) return false;
    // The boxes carried a key-stepped point with them: once sent, it waits no longer.
    diagram_->Sent();
    return true;
}

void TForm1::UncheckDirectValuesQuietly() {
    const SuppressedHandlers quiet(state_);
    ui->CheckBox6->setChecked(false);
}

bool TForm1::ApplyFromEditsWithoutDirect() {
    // Boxes that send nothing leave "direct values" as the lamp has it.
    if (!TargetBoxesReadable()) return false;
    UncheckDirectValuesQuietly();
    return ApplyFromEdits(false);
}

void TForm1::Button4Click() {
    ApplyFromEditsWithoutDirect();
}

void TForm1::Button3Click() {
    const std::optional<int> kelvin = TypedTemperature(BoxText(ui->Edit3));
    const bool lux = TypedLux(BoxText(ui->Edit4)).has_value();
    NoteTyped(ui->Edit3, kelvin.has_value());
    NoteTyped(ui->Edit4, lux);
    if (!kelvin || !lux) return;
    // The locus holds the temperature to its table; the box then shows the one applied.
    const Chromaticity p = LocusPoint(*kelvin);
    UncheckDirectValuesQuietly();
    ApplyTarget(p.x, p.y, true, false);
}

void TForm1::CheckBox4Click() {
    if (state_.SuppressHandlers) return;
    // The intensity level stays where it was; only the slider's scale changes.
    int& slider = state_.ControlValues[7];
    const bool log = ui->CheckBox4->isChecked();
    slider = std::clamp(LevelToSlider(SliderToLevel(slider, !log), log), 0, 1000);
    RedrawIntensity();
    ApplyFromEdits(false);
}

void TForm1::CheckBox5Click() {
    if (state_.SuppressHandlers) return;
    RedrawIntensity();
    ApplyFromEdits(false);
}

void TForm1::CheckBox6Click() {
    if (state_.SuppressHandlers || !state_.DirectModeAvailable) return;
    // Direct values are sent with the coefficients on.
    if (ui->CheckBox6->isChecked()) ui->CheckBox1->setChecked(true);
    RedrawIntensity();
    ApplyFromEdits(false);
}

void TForm1::RedrawDiagram(float x, float y) {
    DiagramLamp lamp;
    lamp.gamut = controller_->GetGamutTriangle();
    lamp.transitionX = controller_->GetTransitionX();
    lamp.transitionY = controller_->GetTransitionY();
    lamp.transitionTimeLeft = controller_->GetTransitionTimeLeft();
    const qint64 shown = ui->Image1->Picture().cacheKey();
    const DiagramLabels labels =
        diagram_->Redraw(ui->Image1->Picture(), x, y, lamp, state_.SpeedIndex);
    if (match_ && match_->HasPath()) match_->DrawPath(ui->Image1->Picture(), diagram_->View());
    ui->Label1->setText(labels.secondsLeft);
    ui->Label17->setVisible(labels.transition);
    // A redraw that found nothing to change leaves the picture as it was: nothing to repaint.
    if (ui->Image1->Picture().cacheKey() != shown) ui->Image1->update();
}

void TForm1::PickDiagramPoint(int x, int y) {
    const DiagramPick pick =
        diagram_->Pick(x, y, controller_->GetGamutTriangle(), ModelWhite(colors_));
    MarkBox(ui->Edit1, pick.outside);
    MarkBox(ui->Edit2, pick.outside);
    RedrawDiagram(pick.x, pick.y);
    ui->Edit1->setText(QString::asprintf("%2.4f", static_cast<double>(pick.x)));
    ui->Edit2->setText(QString::asprintf("%2.4f", static_cast<double>(pick.y)));
    // The diagram's release sends its point without direct values; so does each point before.
    if (diagram_->Dragging()) FollowDrag(true);
}

void TForm1::Image1MouseDown(Qt::MouseButton button, int x, int y) {
    // The right button opens the diagram's context menu; it picks nothing.
    if (button == Qt::RightButton) return;
    const DiagramPress press = diagram_->Press(x, y, FirstChannelProtected());
    const Chromaticity current = diagram_->CurrentPoint();
    switch (press.hit) {
        case DiagramHit::Zoom:
            RedrawDiagram(current.x, current.y);
            break;
        case DiagramHit::Speed:
            state_.SpeedIndex = press.speedIndex;
            ApplyFromEdits(false);
            RedrawDiagram(diagram_->CurrentPoint().x, diagram_->CurrentPoint().y);
            break;
        case DiagramHit::Plot:
            PickDiagramPoint(x, y);
            break;
        case DiagramHit::Nothing:
            break;
    }
}

void TForm1::Image1MouseMove(Qt::MouseButtons buttons, int x, int y) {
    // Only a drag picks: a pointer passing over the diagram on its way elsewhere chooses nothing.
    if (buttons != Qt::NoButton && diagram_->Dragging()) PickDiagramPoint(x, y);
}

void TForm1::Image1MouseUp(Qt::MouseButton /*button*/, int /*x*/, int /*y*/) {
    // The picked point goes out once, without direct mode even in the first record.
    if (!diagram_->Release()) return;
    reports_->DragEnded(ApplyFromEditsWithoutDirect());
}

void TForm1::Image1KeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (FirstChannelProtected()) return;
    const int step = (modifiers & Qt::ShiftModifier) ? 10 : 1;
    int dx = 0;
    int dy = 0;
    switch (key) {
        case Qt::Key_Left:
            dx = -step;
            break;
        case Qt::Key_Right:
            dx = step;
            break;
        case Qt::Key_Up:
            dy = -step;
            break;
        case Qt::Key_Down:
            dy = step;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Image1MouseUp(Qt::LeftButton, 0, 0);
            return;
        case Qt::Key_Plus:
        case Qt::Key_Minus:
            // As a press on the intensity slider's plus or minus button and its release.
            Image8MouseDown(Qt::LeftButton, key == Qt::Key_Plus ? 446 : 20, 10);
            Image8MouseUp(Qt::LeftButton, 0, 0);
            return;
        default:
            return;
    }
    // Before any point is drawn, the steps start from the x and y boxes.
    const Chromaticity boxes{ChromaticityFromText(BoxText(ui->Edit1)),
                             ChromaticityFromText(BoxText(ui->Edit2))};
    if (const auto at = diagram_->KeyStep(dx, dy, false, boxes)) {
        PickDiagramPoint(at->x, at->y);
        // The T box follows the keys as the x and y boxes do, before the point is sent.
        const Chromaticity picked = diagram_->CurrentPoint();
        const ColorTriple xyz = XyYToXyz(picked.x, picked.y, 1.0f);
        ui->Edit3->setText(QString::number(NearestTemperature(xyz.c0, xyz.c1, xyz.c2)));
    }
}

void TForm1::Image1Exit() {
    // A point moved by keys and not yet applied goes out as a release would send it.
    Image1MouseUp(Qt::LeftButton, 0, 0);
}

void TForm1::Edit4Click() {
    MarkBox(ui->Edit4, false);
    state_.PendingConfirmation = false;
}
