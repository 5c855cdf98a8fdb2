#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointF>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include <sys/types.h>

// The strip's place that the displays send, as top and left in twips. Each user's places are
// written at most once a second; one that comes sooner waits, and only the newest waiting one is
// written when the second is over, so that the place the user left the strip at is never lost.
class StripPlaces final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StripPlaces)

public:
    static constexpr int IntervalMs = 1000;
    using Writer = std::function<void(QPointF topLeft)>;

    explicit StripPlaces(Writer write, QObject* parent = nullptr);
    ~StripPlaces() override;

    void Set(uid_t user, QPointF topLeft);
    // Every waiting place now, before the guard ends.
    void WriteAll();

private:
    struct Pending {
        QElapsedTimer last;
        std::optional<QPointF> place;
        std::unique_ptr<QTimer> timer;
    };

    void writeNow(Pending& pending);

    Writer write_;
    std::map<uid_t, Pending> users_;
};
