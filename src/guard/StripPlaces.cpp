#include "guard/StripPlaces.h"

StripPlaces::StripPlaces(Writer write, QObject* parent) : QObject(parent), write_(std::move(write)) {}

StripPlaces::~StripPlaces() = default;

void StripPlaces::Set(quint64 client, QPointF topLeft) {
    Pending& pending = clients_[client];
    pending.place = topLeft;
    if (!pending.last.isValid() || pending.last.hasExpired(IntervalMs))
        return writeNow(pending);
    if (!pending.timer) {
        pending.timer = std::make_unique<QTimer>();
        pending.timer->setSingleShot(true);
        connect(pending.timer.get(), &QTimer::timeout, this, [this, client] { writeNow(clients_[client]); });
    }
    if (!pending.timer->isActive())
        pending.timer->start(int(IntervalMs - pending.last.elapsed()));
}

void StripPlaces::Forget(quint64 client) {
    const auto it = clients_.find(client);
    if (it == clients_.end())
        return;
    if (it->second.place)
        write_(*it->second.place);
    clients_.erase(it);
}

void StripPlaces::WriteAll() {
    for (auto& [client, pending] : clients_) {
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
