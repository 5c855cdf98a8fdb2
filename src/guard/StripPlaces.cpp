#include "guard/StripPlaces.h"

StripPlaces::StripPlaces(Writer write, QObject* parent) : QObject(parent), write_(std::move(write)) {}

StripPlaces::~StripPlaces() = default;

void StripPlaces::Set(uid_t user, QPointF topLeft) {
    Pending& pending = users_[user];
    pending.place = topLeft;
    if (!pending.last.isValid() || pending.last.hasExpired(IntervalMs))
        return writeNow(pending);
    if (!pending.timer) {
        pending.timer = std::make_unique<QTimer>();
        pending.timer->setSingleShot(true);
        connect(pending.timer.get(), &QTimer::timeout, this, [this, user] { writeNow(users_[user]); });
    }
    if (!pending.timer->isActive())
        pending.timer->start(int(IntervalMs - pending.last.elapsed()));
}

void StripPlaces::WriteAll() {
    for (auto& [user, pending] : users_) {
        if (pending.place)
            writeNow(pending);
    }
}

void StripPlaces::writeNow(Pending& pending) {
    if (!pending.place)
        return;
    pending.last.start();
    if (pending.timer)
        pending.timer->stop();
    write_(*std::exchange(pending.place, std::nullopt));
}
