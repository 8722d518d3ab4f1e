#include "window/Matchrun.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <cmath>
#include <future>

#include "link/Lamp.h"
#include "settings/Options.h"
#include "ui_Main.h"
#include "window/Canvas.h"
#include "window/Diagram.h"
#include "window/Storereadings.h"
#include "window/Target.h"

// Tells the user before each reading when the instrument waits for them.
class MatchRun::Prompting : public ReadingSource {
  public:
    Prompting(ReadingSource& inner, std::function<void(const std::string&)> tell)
        : inner_(inner), tell_(std::move(tell)) {}
    ReadingResult Read(std::stop_token stop) override {
        if (const std::string prompt = inner_.Prompt(); !prompt.empty()) tell_(prompt);
        return inner_.Read(stop);
    }
    std::chrono::milliseconds ReadLimit() const override { return inner_.ReadLimit(); }
    ReadingNoise Noise() const override { return inner_.Noise(); }
    std::string Prompt() const override { return inner_.Prompt(); }
    void Sent() override { inner_.Sent(); }

  private:
    ReadingSource& inner_;
    std::function<void(const std::string&)> tell_;
};

namespace {

QString StepLine(const MatchStep& s) {
    return QString::asprintf("Reading %d: x %.4f y %.4f %.0f lx, u'v' %.4f, lux %+.1f %%%s",
                             s.Number, s.Measured.x, s.Measured.y, s.Measured.lux, s.Distance,
                             s.LuxError * 100.0, s.Discarded ? " (taken again)" : "");
}

}  // namespace

MatchRun::MatchRun(Host& host, Ui::TForm1& ui, QWidget& panel, ReadingSource* source)
    : host_(host), ui_(ui), source_(source), closing_(std::make_shared<std::atomic<bool>>(false)) {
    if (source_ == nullptr) {
        const Coptions* options = host_.Options();
        const int waitMs = options ? options->MatchWaitMs() : Coptions::kDefaultMatchWait * 1000;
        // Most spectrometer applications measure when the user asks; MATCH.AUTO says this one
        // measures by itself.
        const bool triggered = !(options && options->GetBool("MATCH.AUTO"));
        ownSource_ =
            std::make_unique<StoreReadings>(host_.Measurement(), DefaultClock(), waitMs, triggered);
        source_ = ownSource_.get();
    }
    prompting_ = std::make_unique<Prompting>(*source_, [this](const std::string& prompt) {
        QMetaObject::invokeMethod(
            this,
            [this, text = QString::fromStdString(prompt)] {
                ShowLine(QStringLiteral("Reading %1: %2").arg(path_.size() + 1).arg(text));
            },
            Qt::QueuedConnection);
    });

    // Beside "Load measurement", in its font.
    const QRect load = ui_.Button5->geometry();
    ButtonMatch = new QPushButton(QStringLiteral("Match"), &panel);
    ButtonMatch->setObjectName(QStringLiteral("ButtonMatch"));
    ButtonCancel = new QPushButton(QStringLiteral("Cancel"), &panel);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    for (QPushButton* b : {ButtonMatch, ButtonCancel}) {
        b->setFont(ui_.Button5->font());
        b->setAutoDefault(false);
        b->hide();
    }
    ButtonMatch->setGeometry(load.left(), load.bottom() + 5, 70, load.height());
    ButtonCancel->setGeometry(load.right() - 69, load.bottom() + 5, 70, load.height());
    ButtonCancel->setEnabled(false);
    ButtonMatch->setToolTip(QStringLiteral(
        "Match: brings the light the lamp gives to x, y and lux in the boxes, measuring it with "
        "the spectrometer after each step."));
    ButtonCancel->setToolTip(QStringLiteral("Cancel: stops the match; the best point stays."));
    LabelMatch = new QLabel(&panel);
    LabelMatch->setObjectName(QStringLiteral("LabelMatch"));
    LabelMatch->setFont(ArialFont(8));
    LabelMatch->setGeometry(load.left() - 236, load.bottom() + 33, 380, 28);
    LabelMatch->setAlignment(Qt::AlignRight | Qt::AlignTop);
    LabelMatch->setWordWrap(true);
    LabelMatch->hide();
    connect(ButtonMatch, &QPushButton::clicked, this, &MatchRun::ButtonMatchClick);
    connect(ButtonCancel, &QPushButton::clicked, this, &MatchRun::ButtonCancelClick);
}

MatchRun::~MatchRun() {
    closing_->store(true);
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
    }
}

std::chrono::milliseconds MatchRun::LongestRun() const {
    using namespace std::chrono_literals;
    const int readings = MatchOptions{}.MaxReadings;
    // A send after each reading, besides the first target and the best point at the end.
    return readings * source_->ReadLimit() +
           (readings + 2) * std::chrono::duration_cast<std::chrono::milliseconds>(kSendLimit) + 5s;
}

void MatchRun::UpdateVisibility(bool firstChannelProtected) {
    const bool show = !firstChannelProtected;
    ButtonMatch->setVisible(show);
    ButtonCancel->setVisible(show);
    LabelMatch->setVisible(show && !LabelMatch->text().isEmpty());
}

void MatchRun::ShowLine(const QString& text) {
    LabelMatch->setText(text);
    LabelMatch->setVisible(ButtonMatch->isVisible());
}

void MatchRun::ButtonMatchClick() {
    // The boxes' target, read as "Set" reads it: "nan" or "inf" is no target.
    const auto text = [](const QLineEdit* box) { return box->text().toLatin1().toStdString(); };
    const std::optional<float> x = TypedChromaticity(text(ui_.Edit1));
    const std::optional<float> y = TypedChromaticity(text(ui_.Edit2));
    const std::optional<int> lux = TypedLux(text(ui_.Edit4));
    if (!x || !y || !lux) {
        ShowLine(QStringLiteral("Match needs numbers in the x, y and lux boxes"));
        return;
    }
    Start({*x, *y, static_cast<double>(*lux)}, 0.001, nullptr, nullptr);
}

void MatchRun::ButtonCancelClick() {
    Cancel();
}

void MatchRun::Cancel() {
    if (running_) worker_.request_stop();
}

bool MatchRun::Start(const LightReading& target, double tolerance, StepFn step, DoneFn done,
                     QString* why) {
    if (running_) {
        if (why) *why = QStringLiteral("a match is running");
        return false;
    }
    if (worker_.joinable()) worker_.join();
    running_ = true;
    step_ = std::move(step);
    done_ = std::move(done);
    hold_ = host_.Busy().Enter(BusyState::Kind::Dialog, QStringLiteral("a match is running"));
    path_.clear();
    ButtonMatch->setEnabled(false);
    ButtonCancel->setEnabled(true);
    ShowLine(QStringLiteral("Matching..."));
    {
        // The loop sends a lux target: neither "max" nor direct values, full intensity.
        WindowState& state = host_.State();
        const SuppressedHandlers quiet(state);
        ui_.CheckBox3->setChecked(false);
        ui_.CheckBox6->setChecked(false);
        state.ControlValues[7] = 1000;
    }

    MatchOptions options;
    options.Tolerance = tolerance > 0.0 ? tolerance : 0.001;
    options.Gamut = host_.Controller()->GetGamutTriangle();
    options.White = ModelWhite(host_.ColourModel());
    CLampState* controller = host_.Controller();
    const std::shared_ptr<std::atomic<bool>> closing = closing_;
    // Runs on the loop's thread: the window applies the target, then the controller's word on
    // the record is waited for, so that the next reading is of the new light.
    auto send = [this, controller, closing](const LightReading& t) -> SendResult {
        struct Applied {
            bool ok = false;
            std::uint64_t asked = 0, made = 0;
        };
        const SendResult ending{SendRefusal::Busy, "the program is ending"};
        auto promise = std::make_shared<std::promise<Applied>>();
        std::future<Applied> future = promise->get_future();
        QMetaObject::invokeMethod(
            this,
            [this, t, promise, closing] {
                Applied a;
                if (!closing->load()) {
                    a.asked = host_.Controller()->Generation();
                    ui_.Edit4->setText(QString::number(std::lround(t.lux)));
                    a.ok = host_.ApplyTarget(static_cast<float>(t.x), static_cast<float>(t.y), true,
                                             false);
                    a.made = host_.Controller()->Generation();
                }
                promise->set_value(a);
            },
            Qt::QueuedConnection);
        using namespace std::chrono_literals;
        while (future.wait_for(20ms) != std::future_status::ready)
            if (closing->load()) return ending;
        const Applied a = future.get();
        if (!a.ok)
            return closing->load() ? ending
                                   : SendResult{SendRefusal::Busy, "the window could not apply it"};
        if (a.made == a.asked) return {};
        const auto deadline = std::chrono::steady_clock::now() + kSendLimit;
        while (true) {
            int othersTook = 0;
            if (const std::optional<RequestOutcome> outcome =
                    controller->OutcomeOf(a.asked, a.made, &othersTook)) {
                switch (*outcome) {
                    case RequestOutcome::MainLampAcked:
                        return {};
                    case RequestOutcome::NoLamp:
                        return {SendRefusal::NoLamp, "no lamp is connected"};
                    case RequestOutcome::OthersOnly:
                        return {SendRefusal::NoLamp, "the main lamp is gone; " +
                                                         std::to_string(othersTook) +
                                                         " other lamp(s) took it"};
                    case RequestOutcome::Failed:
                        return {SendRefusal::NoAnswer, "the lamp did not answer"};
                }
            }
            if (closing->load()) return ending;
            if (std::chrono::steady_clock::now() > deadline) {
                if (!controller->IsConnected() || controller->IsFinished())
                    return {SendRefusal::NoLamp, "no lamp is connected"};
                return {SendRefusal::Unconfirmed,
                        "the lamp has not confirmed it yet; it may still take it"};
            }
            std::this_thread::sleep_for(10ms);
        }
    };
    worker_ = std::jthread([this, target, options, send](std::stop_token stop) {
        MatchLoop loop(*prompting_, send, options);
        loop.OnProgress([this](const MatchStep& s) {
            QMetaObject::invokeMethod(
                this, [this, s] { Stepped(s); }, Qt::QueuedConnection);
        });
        const MatchResult result = loop.Run(target, stop);
        QMetaObject::invokeMethod(
            this, [this, result] { Finished(result); }, Qt::QueuedConnection);
    });
    return true;
}

void MatchRun::Stepped(const MatchStep& step) {
    if (!step.Discarded)
        path_.push_back({static_cast<float>(step.Measured.x), static_cast<float>(step.Measured.y)});
    ShowLine(StepLine(step));
    const Chromaticity point = host_.TargetDiagram().CurrentPoint();
    host_.RedrawDiagram(point.x, point.y);
    if (step_) step_(step);
}

void MatchRun::Finished(const MatchResult& result) {
    if (worker_.joinable()) worker_.join();
    running_ = false;
    ButtonMatch->setEnabled(true);
    ButtonCancel->setEnabled(false);
    ShowLine(QString::fromStdString(DescribeMatch(result)));
    const Chromaticity point = host_.TargetDiagram().CurrentPoint();
    host_.RedrawDiagram(point.x, point.y);
    DoneFn done = std::move(done_);
    done_ = nullptr;
    step_ = nullptr;
    hold_.Release();
    if (done) done(result);
}

void MatchRun::DrawPath(QImage& image, const DiagramView& view) const {
    if (path_.empty()) return;
    Canvas canvas(image);
    constexpr QRgb kPath = 0xff000000;
    constexpr QRgb kMark = 0xffffffff;
    for (std::size_t i = 1; i < path_.size(); ++i) {
        const PixelPoint a = Diagram::ToPixel(view, path_[i - 1].x, path_[i - 1].y);
        const PixelPoint b = Diagram::ToPixel(view, path_[i].x, path_[i].y);
        canvas.Line(a.x, a.y, b.x, b.y, kPath);
    }
    for (const Chromaticity& c : path_) {
        const PixelPoint p = Diagram::ToPixel(view, c.x, c.y);
        canvas.FillEllipse({p.x - 2, p.y - 2, p.x + 3, p.y + 3}, kPath, kMark);
    }
}
