#include <QDBusConnection>
#include <QDBusMessage>
#include <QPointer>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

#include "bus/Bus.h"
#include "link/Lamp.h"
#include "window/Pages.h"

using namespace LampBus;

namespace {

QVariantMap Answer(const MatchResult& r) {
    return {{QStringLiteral("outcome"), QString::fromLatin1(MatchOutcomeName(r.Outcome))},
            {QStringLiteral("text"), QString::fromStdString(DescribeMatch(r))},
            {QStringLiteral("readings"), r.Readings},
            {QStringLiteral("retaken"), r.Retaken},
            {QStringLiteral("measured"), r.HaveMeasured},
            {QStringLiteral("x"), r.Measured.x},
            {QStringLiteral("y"), r.Measured.y},
            {QStringLiteral("lux"), r.Measured.lux},
            {QStringLiteral("distance"), r.Distance},
            {QStringLiteral("luxError"), r.LuxError},
            {QStringLiteral("targetX"), r.Target.x},
            {QStringLiteral("targetY"), r.Target.y},
            {QStringLiteral("targetLux"), r.Target.lux},
            {QStringLiteral("constrained"), r.Constrained},
            {QStringLiteral("luxLowered"), r.LuxLowered}};
}

bool Within(double v, double lo, double hi) {
    return std::isfinite(v) && v >= lo && v <= hi;
}

// The error a match the lamp took no target of is answered with, as a single change's would be.
const char* RefusalError(SendRefusal refusal) {
    switch (refusal) {
        case SendRefusal::NoLamp:
            return kNotConnected;
        case SendRefusal::NoAnswer:
            return kFailed;
        case SendRefusal::Unconfirmed:
            return kUnconfirmed;
        case SendRefusal::Busy:
            return kBusy;
        case SendRefusal::Invalid:
            return kInvalidArgs;
        case SendRefusal::None:
            break;
    }
    return kFailed;
}

}  // namespace

int LampService::MatchTimeLimit() const {
    const auto limit = std::chrono::ceil<std::chrono::seconds>(window_.MatchTimeLimit());
    return static_cast<int>(std::min<std::chrono::seconds::rep>(limit.count(), INT_MAX));
}

QVariantMap LampService::Match(double x, double y, double lux, double tolerance) {
    if (!Within(x, 0.01, 0.7) || !Within(y, 0.01, 0.7)) {
        Refuse(kInvalidArgs, QStringLiteral("x and y must lie within 0.01..0.7"));
        return {};
    }
    if (!Within(lux, 10.0, 65535.0)) {
        Refuse(kInvalidArgs, QStringLiteral("lux must lie within 10..65535"));
        return {};
    }
    if (!(tolerance == 0.0 || Within(tolerance, 0.0001, 0.05))) {
        Refuse(kInvalidArgs,
               QStringLiteral("tolerance must be 0 (the default) or lie within 0.0001..0.05"));
        return {};
    }
    if (RefusedForState()) return {};
    if (RefusedForFirstChannel()) return {};
    const QDBusMessage call = message();
    QDBusConnection bus = connection();
    QString why;
    const bool started = window_.StartMatch(
        {x, y, lux}, tolerance,
        [self = QPointer<LampService>(this)](const MatchStep& s) {
            if (s.Discarded || !self) return;
            emit self->MatchProgress(s.Number, s.Measured.x, s.Measured.y, s.Measured.lux,
                                     s.Distance, s.LuxError);
        },
        [call, bus](const MatchResult& r) mutable {
            if (r.Outcome == MatchOutcome::NotSent) {
                bus.send(call.createErrorReply(QString::fromLatin1(RefusalError(r.Refusal)),
                                               QString::fromStdString(r.Problem)));
                return;
            }
            bus.send(call.createReply(QVariant(Answer(r))));
        },
        &why);
    if (!started) {
        Refuse(kBusy, why);
        return {};
    }
    setDelayedReply(true);
    return {};
}
