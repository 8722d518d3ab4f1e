#include "window/Busy.h"

#include <QDialog>
#include <QEventLoop>
#include <algorithm>
#include <utility>

BusyState::Claim::Claim(Claim&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), id_(other.id_) {}

BusyState::Claim& BusyState::Claim::operator=(Claim&& other) noexcept {
    if (this != &other) {
        Release();
        owner_ = std::exchange(other.owner_, nullptr);
        id_ = other.id_;
    }
    return *this;
}

void BusyState::Claim::Release() {
    if (BusyState* owner = std::exchange(owner_, nullptr)) owner->Leave(id_);
}

BusyState::Claim BusyState::Enter(Kind kind, const QString& reason) {
    held_.push_back({++lastId_, kind, reason});
    return Claim(this, lastId_);
}

bool BusyState::IsWorking() const {
    return Holds(Kind::Work);
}

bool BusyState::Holds(Kind kind) const {
    return std::any_of(held_.begin(), held_.end(),
                       [kind](const Entry& e) { return e.kind == kind; });
}

QString BusyState::Reason() const {
    return held_.empty() ? QString() : held_.front().reason;
}

void BusyState::SetProgress(const QString& work, int done, int total) {
    if (!progress_ || progress_->work != work) progressClock_.start();
    progress_ = Progress{work, done, total, 0};
    if (OnProgress) OnProgress();
}

std::optional<BusyState::Progress> BusyState::CurrentProgress() const {
    if (!progress_) return std::nullopt;
    Progress now = *progress_;
    now.elapsedMs = progressClock_.elapsed();
    return now;
}

void BusyState::Leave(std::uint64_t id) {
    std::erase_if(held_, [id](const Entry& e) { return e.id == id; });
    if (progress_ && !IsWorking()) {
        progress_.reset();
        if (OnProgress) OnProgress();
    }
    if (held_.empty() && OnIdle) OnIdle();
}

int RunBeside(QDialog& dialog) {
    dialog.setWindowModality(Qt::NonModal);
    QEventLoop loop;
    int answer = QDialog::Rejected;
    const QMetaObject::Connection finished =
        QObject::connect(&dialog, &QDialog::finished, &loop, [&](int result) {
            answer = result;
            loop.quit();
        });
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    loop.exec();
    QObject::disconnect(finished);
    return answer;
}
