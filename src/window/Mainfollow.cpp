// The lamp following a drag: the user's switch for it, and the points a drag on the diagram or
// a slider sends along the way when it is on.
#include <QAction>
#include <QLineEdit>

#include "link/Lamp.h"
#include "settings/Channel.h"
#include "settings/Options.h"
#include "ui_Main.h"
#include "window/Image.h"
#include "window/Logging.h"
#include "window/Main.h"

namespace {

std::string BoxText(const QLineEdit* box) {
    return box->text().toLatin1().toStdString();
}

}  // namespace

void TForm1::BuildFollowSwitch() {
    followAction_ = new QAction(QStringLiteral("Follow while dragging"), this);
    followAction_->setObjectName(QStringLiteral("FollowAction"));
    followAction_->setCheckable(true);
    followAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    followAction_->setShortcutContext(Qt::WindowShortcut);
    // On the window for its shortcut; the diagram's right-click shows it in the window's
    // command menu.
    addAction(followAction_);
    ui->Image1->addAction(followAction_);
    connect(followAction_, &QAction::toggled, this,
            [this](bool on) { SetFollowWhileDragging(on); });
}

bool TForm1::FollowWhileDragging() const {
    return follow_;
}

void TForm1::SetFollowWhileDragging(bool on) {
    if (on == follow_) return;
    follow_ = on;
    followAction_->setChecked(on);
    if (!optionsStore_->StoreFlag(Coptions::kFollowKey, on)) {
        qCWarning(lcWindow) << "cannot keep the choice to follow a drag in"
                            << QString::fromLocal8Bit(optionsStore_->FilePath().c_str())
                            << "; it holds until the program ends";
    }
    emit FollowChanged();
}

QMetaObject::Connection TForm1::OnFollowChanged(QObject* receiver, std::function<void()> fn) {
    return connect(this, &TForm1::FollowChanged, receiver, std::move(fn));
}

bool TForm1::Dragging() const {
    return diagram_->Dragging() || activeSlider_ >= 0;
}

void TForm1::FollowDrag(bool withoutDirect) {
    if (!follow_ || !controller_) return;
    // The point under the hand as the release would send it; boxes that hold no number send
    // nothing, as the release would not, and are marked only by the release.
    const std::optional<float> x = TypedChromaticity(BoxText(ui->Edit1));
    const std::optional<float> y = TypedChromaticity(BoxText(ui->Edit2));
    TargetBoxes boxes = ReadTargetBoxes();
    const std::optional<int> lux = TypedLux(boxes.LuxText);
    if (!x || !y || !lux) return;
    boxes.LuxText = std::to_string(*lux);
    if (withoutDirect) boxes.Direct = false;
    // Not the user's edit of the setting yet: the name keeps its mark as it is, and nothing waits
    // for the refresh to confirm it; the release does both.
    const RecordImage image = MakeRecordImage(state_, boxes, *x, *y, false, false);
    controller_->EditCurrentRecord([&](CChannel& record) { WriteRecordImage(image, record); });
    controller_->FollowCurrentChannel();
}
