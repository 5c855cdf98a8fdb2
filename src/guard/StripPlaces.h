#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointF>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>

// The strip's place that the displays send, as top and left in twips. Each display's places are
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

    void Set(quint64 client, QPointF topLeft);
    // The display went: a place it left waiting is written now.
    void Forget(quint64 client);
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
    std::map<quint64, Pending> clients_;
};
