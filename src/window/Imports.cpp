#include "window/Imports.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <thread>

#include "link/Lamp.h"
#include "link/Light.h"
#include "settings/Coefficients.h"
#include "ui_Main.h"
#include "window/Coefficients.h"
#include "window/Logging.h"
#include "window/Measurement.h"
#include "window/Messages.h"
#include "window/Target.h"
#include "window/Upload.h"

namespace {
// The display text upload and the coefficient write as the user hears of them.
const QString kUploadWork = QStringLiteral("display text upload");
const QString kCoefficientWork = QStringLiteral("coefficient write");
}  // namespace

Imports::Imports(Host& host, Ui::TForm1& ui, QWidget& window,
                 std::function<QString()> chooseLanguageFile,
                 std::function<QString()> chooseCoefficientFile)
    : host_(host),
      ui_(ui),
      window_(window),
      chooseLanguageFile_(std::move(chooseLanguageFile)),
      chooseCoefficientFile_(std::move(chooseCoefficientFile)) {
    coefficientWait_.setSingleShot(true);
    coefficientWait_.setInterval(kCoefficientWaitMs);
    QObject::connect(&coefficientWait_, &QTimer::timeout, [this] {
        if (!writing_.Held()) return;
        // A table the controller has not taken yet never will be; one it is writing reports
        // later, and that word is then ignored.
        host_.Controller()->WithdrawCoefficients(writingTable_);
        CoefficientsWritten(writingTable_, CLightInput::kNoReply);
    });
}

QString Imports::ChooseFile(QFileDialog*& dialog, const std::function<void(QFileDialog&)>& setUp,
                            const std::function<QString()>& chooser) {
    const BusyState::Claim hold =
        host_.Busy().Enter(BusyState::Kind::Beside, QStringLiteral("a file dialog is open"));
    if (chooser) return chooser();
    if (dialog == nullptr) {
        dialog = new QFileDialog(&window_);
        if (setUp) setUp(*dialog);
    }
    const bool accepted = RunBeside(*dialog) == QDialog::Accepted;
    CloseCompletion(*dialog);
    if (!accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().constFirst();
}

void Imports::CloseCompletion(QFileDialog& dialog) {
    // A name-completion list still open when Return accepted the dialog would stay on top of
    // the window and take its next clicks and keys.
    for (QCompleter* completer : dialog.findChildren<QCompleter*>()) {
        if (QAbstractItemView* list = completer->popup(); list->isVisible()) list->hide();
    }
}

void Imports::LoadCoefficients() {
    const std::optional<int> rows =
        Coefficients::RowCount(ui_.Edit6->text().toLatin1().toStdString());
    if (!rows) {
        host_.ShowMessageAndReturn(CoefficientCountText());
        return;
    }
    const QString file = ChooseFile(OpenDialog2, {}, chooseCoefficientFile_);
    // A cancelled choice leaves the lamp's table as it was.
    if (file.isEmpty()) return;
    const CoefficientFile read = ReadCoefficientFile(file, *rows);
    const std::optional<Coefficients::Table>& table = read.table;
    CLampState& controller = *host_.Controller();
    if (!table) {
        host_.ShowMessageAndReturn(read.failure);
        return;
    }
    if (!controller.IsConnected()) {
        host_.ShowMessageAndReturn(CoefficientResultText(CLightInput::kNoLamp));
        return;
    }
    // From here until the controller's word the window takes no input and the bus no change.
    writing_ = host_.Busy().Enter(BusyState::Kind::Work,
                                  QStringLiteral("the coefficient table is being written"));
    // How far the write has come is the controller's to say, from its first frame on.
    writingRows_ = *rows;
    host_.ShowMessagePage(CoefficientsWritingText(*rows, 0, 0));
    // The lamp's own table is kept first, so that any write can be undone by loading it.
    const QString folder = host_.DataFolder() + '/' + QString::fromLatin1(kCoefficientBackupFolder);
    std::optional<LampTable> old;
    {
        const CLampState::PauseScope pause = controller.Pause();
        if (const CLightInput* lamp = pause.MainLamp(); lamp != nullptr && controller.IsConnected())
            old = LampTable{lamp->Serial(), TableInArea(lamp->Info.LampArea)};
    }
    if (!old) {
        host_.ShowMessageAndReturn(CoefficientResultText(CLightInput::kNoLamp));
        writing_.Release();
        return;
    }
    const QString saved = SaveLampTable(folder, *old, QDateTime::currentDateTime());
    if (saved.isEmpty()) {
        host_.ShowMessageAndReturn(CoefficientBackupFailedText(folder));
        writing_.Release();
        return;
    }
    written_ = CoefficientsWrittenText(read.rows, file, saved);
    coefficientWait_.start();
    writingTable_ = controller.StoreCoefficients(*table);
}

void Imports::CoefficientsWritten(std::uint64_t table, std::int32_t result) {
    if (!writing_.Held() || table != writingTable_) {
        qCWarning(lcWindow) << "the result" << result << "of coefficient table" << table
                            << "came after its wait had ended; it is ignored";
        return;
    }
    writingTable_ = 0;
    coefficientWait_.stop();
    if (const auto p = host_.Busy().CurrentProgress(); p && result == CLightInput::kOk)
        host_.Busy().SetProgress(p->work, p->total, p->total);
    host_.ShowMessageAndReturn(result == CLightInput::kOk ? written_
                                                          : CoefficientResultText(result));
    writing_.Release();
}

void Imports::CoefficientsProgress(std::uint64_t table, int done, int total) {
    if (!writing_.Held() || table != writingTable_) return;
    // Counted in the write's frames, not rows: a frame carries a piece of five and a third rows,
    // rows the lamp holds already send nothing, and each frame takes the same time on the
    // wire, so frames are what the time left follows.
    host_.ShowMessagePage(CoefficientsWritingText(writingRows_, done, total));
    // After the page: a close waiting for the write puts its own word over it.
    host_.Busy().SetProgress(kCoefficientWork, done, total);
}

void Imports::UploadTexts() {
    if (uploading_) return;
    const QString file = ChooseFile(
        OpenDialog1,
        [](QFileDialog& dialog) {
            dialog.setNameFilter(QStringLiteral("Language file (*)"));
            dialog.setFileMode(QFileDialog::ExistingFile);
        },
        chooseLanguageFile_);
    if (file.isEmpty()) return;
    // Everything that can be checked is checked before the lamp is paused.
    QImage picture;
    if (!picture.load(file)) {
        host_.ShowMessageAndReturn(NotAPictureText(file));
        return;
    }
    CLampState& controller = *host_.Controller();
    if (!controller.IsConnected()) {
        host_.ShowMessageAndReturn(NoLampText());
        return;
    }
    const std::vector<Upload::TextBlock> blocks =
        Upload::PackBlocks(picture, Upload::LayoutFromOptions(*host_.Options()));
    const int items = static_cast<int>(blocks.size()) * 2;
    const int total = static_cast<int>(blocks.size());
    int written = 0;
    uploading_ = true;
    BusyState::Claim hold = host_.Busy().Enter(BusyState::Kind::Work,
                                               QStringLiteral("a display text upload is running"));
    {
        // The window takes no input from here on, also while the pause's wait handles events.
        const CLampState::PauseScope pause = controller.Pause();
        if (CLightInput* lamp = pause.MainLamp()) {
            ui_.ProgressBar1->setRange(0, items);
            ui_.ProgressBar1->setValue(0);
            ui_.ProgressBar1->setFormat(QStringLiteral("%v of %m"));
            ui_.ProgressBar1->setTextVisible(true);
            ui_.ProgressBar1->show();
            host_.Busy().SetProgress(kUploadWork, 0, items);
            written = WriteBlocksAlive(*lamp, blocks);
            ui_.ProgressBar1->setValue(items);
            host_.Busy().SetProgress(kUploadWork, 2 * written, items);
        }
    }
    ui_.ProgressBar1->hide();
    ui_.Button1->hide();
    uploading_ = false;
    if (written < total) host_.ShowMessageAndReturn(UnfinishedText(written, total));
    // A close asked for meanwhile follows now.
    hold.Release();
}

int Imports::WriteBlocksAlive(CLightInput& lamp, const std::vector<Upload::TextBlock>& blocks) {
    // The blocks go out on a thread of their own while this one goes on handling events, so
    // the window keeps painting and answering the desktop through an upload of many seconds;
    // the controller's pause keeps every other user off the lamp meanwhile.
    QEventLoop loop;
    QProgressBar* bar = ui_.ProgressBar1;
    BusyState* busy = &host_.Busy();
    const int items = static_cast<int>(blocks.size()) * 2;
    int written = 0;
    std::thread writer([&] {
        written = Upload::WriteBlocks(
            blocks,
            [&lamp](int page, const Upload::TextBlock& block) {
                CLightInput::Page bytes{};
                std::copy(block.begin(), block.end(), bytes.begin());
                return lamp.WriteBlock(page, bytes) == CLightInput::kOk;
            },
            [bar, busy, items](int item) {
                QMetaObject::invokeMethod(bar, [bar, busy, item, items] {
                    bar->setValue(item);
                    busy->SetProgress(kUploadWork, item, items);
                });
            });
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    writer.join();
    return written;
}

void Imports::LoadMeasurement() {
    CLampState& controller = *host_.Controller();
    if (controller.CurrentSlot() <= 0) return;
    // Without a usable chromaticity nothing changes: no new name, no made-up target; the user
    // hears which value is missing or unusable.
    const MeasurementStore& store = host_.Measurement();
    const std::optional<Measurement> m = ReadMeasurement(store);
    if (!m) {
        host_.ShowMessageAndReturn(MeasurementErrorText(MeasurementProblem(store)));
        return;
    }
    controller.EditCurrentRecord(
        [](CChannel& r) { r.Name = "Measured " + std::to_string(r.SlotNumber); });
    controller.StoreChannelNames();
    ui_.Edit1->setText(QString::asprintf("%2.4f", m->X));
    ui_.Edit2->setText(QString::asprintf("%2.4f", m->Y));
    ui_.Edit4->setText(QString::asprintf("%d", m->Lux));
    WindowState& state = host_.State();
    {
        // The target is applied once, below, not by the boxes' handlers.
        const SuppressedHandlers quiet(state);
        ui_.CheckBox3->setChecked(false);
        ui_.CheckBox6->setChecked(false);
    }
    state.ControlValues[7] = 1000;
    // The sliders and the intensity gauge are redrawn here once the slider views are in.
    host_.ApplyFromEdits(false);
}
