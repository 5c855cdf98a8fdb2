#include "QtTestApplication.h"
#include "RealDesktop.h"

#include "controls/PropertyBag.h"
#include "controls/TrayArea.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Operation = TrayArea::Operation;
using Event = TrayArea::Event;

struct Call {
    Operation operation;
    TrayArea::Record record;
    bool accepted;
};

// Stands in for the desktop: accepts an add of a new identifier and a change or removal of an
// icon it holds, refuses the rest, and writes down every call.
class RecordingArea final : public TrayArea::NotificationArea {
public:
    RecordingArea(QList<Call>& calls, bool available) : calls_(calls), available_(available) {}

    bool Notify(Operation operation, const TrayArea::Record& record) override {
        const bool held = shown_.contains(record.id);
        const bool accepted = operation == Operation::Add ? !held : held;
        if (accepted && operation == Operation::Add)
            shown_.append(record.id);
        if (accepted && operation == Operation::Delete)
            shown_.removeOne(record.id);
        calls_.append({operation, record, accepted});
        return accepted;
    }
    bool Available() const override { return available_; }

private:
    QList<Call>& calls_;
    QList<quint16> shown_;
    bool available_;
};

class TrayAreaTest : public ::testing::Test {
protected:
    void SetUp() override { TrayArea::ResetIdentifiers(); }

    std::unique_ptr<TrayArea> makeControl(bool available = true) {
        auto control = std::make_unique<TrayArea>(nullptr, std::make_unique<RecordingArea>(calls, available));
        QObject::connect(control.get(), &TrayArea::PropertyChanged,
                         [this](const QString& key) { events.append("changed " + key.toStdString()); });
        QObject::connect(control.get(), &TrayArea::MouseMove, [this] { events.append("move"); });
        QObject::connect(control.get(), &TrayArea::MouseDown,
                         [this](int button, int shift, float x, float y) {
                             events.append("down " + std::to_string(button) + " " + std::to_string(shift) +
                                           " " + std::to_string(int(x)) + " " + std::to_string(int(y)));
                         });
        QObject::connect(control.get(), &TrayArea::MouseUp,
                         [this](int button) { events.append("up " + std::to_string(button)); });
        QObject::connect(control.get(), &TrayArea::DblClick, [this] { events.append("dblclick"); });
        return control;
    }

    QList<Call> calls;
    QList<std::string> events;
};

QIcon shippedIcon() {
    return QIcon(QStringLiteral(NORVALE_SOURCE_DIR "/assets/") + QLatin1String(TrayArea::IconFileName));
}

} // namespace

TEST(TrayAreaDecode, EachMouseMessageRaisesItsEvent) {
    using D = TrayArea::Decoded;
    const float x = 7680, y = 9000, bottom = 12000;
    EXPECT_EQ(TrayArea::Decode(512, x, y, bottom), (D{Event::MouseMove, 0, 0, 0}));
    EXPECT_EQ(TrayArea::Decode(513, x, y, bottom), (D{Event::MouseDown, 1, x, y}));
    EXPECT_EQ(TrayArea::Decode(514, x, y, bottom), (D{Event::MouseUp, 1, 0, 0}));
    EXPECT_EQ(TrayArea::Decode(515, x, y, bottom), (D{Event::DblClick, 0, 0, 0}));
    // The right press reports the bottom of the screen, where the menu opens upwards from.
    EXPECT_EQ(TrayArea::Decode(516, x, y, bottom), (D{Event::MouseDown, 2, x, bottom}));
    EXPECT_EQ(TrayArea::Decode(517, x, y, bottom), (D{Event::MouseUp, 2, 0, 0}));
    // Right double click, middle button and anything else: nothing.
    for (const int message : {0, 511, 518, 519, 520, 521, -513, 513 * 15})
        EXPECT_EQ(TrayArea::Decode(message, x, y, bottom).event, Event::None) << message;
}

TEST(TrayAreaDecode, DesktopClicksBecomeMouseMessages) {
    EXPECT_EQ(TrayArea::MessagesFor(QSystemTrayIcon::Trigger), (QList<int>{513, 514}));
    EXPECT_EQ(TrayArea::MessagesFor(QSystemTrayIcon::DoubleClick), (QList<int>{515, 514}));
    EXPECT_EQ(TrayArea::MessagesFor(QSystemTrayIcon::Context), (QList<int>{516, 517}));
    EXPECT_EQ(TrayArea::MessagesFor(QSystemTrayIcon::MiddleClick), (QList<int>{519, 520}));
    EXPECT_TRUE(TrayArea::MessagesFor(QSystemTrayIcon::Unknown).isEmpty());
    EXPECT_EQ(TrayArea::ShiftState(Qt::NoModifier), 0);
    EXPECT_EQ(TrayArea::ShiftState(Qt::ShiftModifier | Qt::AltModifier), 5);
    EXPECT_EQ(TrayArea::ShiftState(Qt::ControlModifier | Qt::MetaModifier), 2);
}

TEST_F(TrayAreaTest, ClicksOnTheIconRaiseTheEventsInOrder) {
    auto control = makeControl();
    control->setVisible(true);
    ASSERT_EQ(calls.size(), 1);
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(screen->logicalDotsPerInchX(), 96.0);
    const int bottom = 15 * screen->geometry().height();

    // The area reports to the window named in the record of the add.
    TrayArea* window = calls[0].record.window;
    ASSERT_EQ(window, control.get());
    const QPoint cursor(512, 790);
    events.clear();
    // A double click: a Trigger for the first press, then the double click.
    for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick})
        for (const int message : TrayArea::MessagesFor(reason))
            window->Callback(message, cursor, Qt::ControlModifier);
    EXPECT_EQ(events, (QList<std::string>{"down 1 2 7680 11850", "up 1", "dblclick", "up 1"}));

    events.clear();
    for (const int message : TrayArea::MessagesFor(QSystemTrayIcon::Context))
        window->Callback(message, cursor, Qt::NoModifier);
    for (const int message : TrayArea::MessagesFor(QSystemTrayIcon::MiddleClick))
        window->Callback(message, cursor, Qt::NoModifier);
    window->Callback(512, cursor, Qt::NoModifier);
    EXPECT_EQ(events, (QList<std::string>{"down 2 0 7680 " + std::to_string(bottom), "up 2", "move"}));
}

TEST_F(TrayAreaTest, VisibleTwiceAddsOnceAndEachAddHasAFreshIdentifier) {
    auto control = makeControl();
    control->setVisible(true);
    control->setVisible(true);
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(events, QList<std::string>{"changed Visible"});
    const TrayArea::Record first = calls[0].record;
    EXPECT_EQ(calls[0].operation, Operation::Add);
    EXPECT_TRUE(calls[0].accepted);
    EXPECT_EQ(first.flags,
              TrayArea::MessageFlag | TrayArea::IconFlag); // a new control holds an empty picture
    EXPECT_EQ(first.callbackMessage, 512);

    control->setVisible(false);
    control->setVisible(false);
    control->setVisible(true);
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ(calls[1].operation, Operation::Delete);
    EXPECT_EQ(calls[1].record.id, first.id);
    EXPECT_TRUE(calls[1].accepted);
    EXPECT_EQ(calls[2].operation, Operation::Add);
    EXPECT_NE(calls[2].record.id, first.id);
    EXPECT_TRUE(calls[2].accepted);
    for (const Call& call : calls) {
        EXPECT_GE(call.record.id, 1);
        EXPECT_LE(call.record.id, 65535);
    }

    // The same identifiers on every run.
    const QList<quint16> ids{calls[0].record.id, calls[2].record.id};
    control.reset();
    calls.clear();
    TrayArea::ResetIdentifiers();
    auto again = makeControl();
    again->setVisible(true);
    again->setVisible(false);
    again->setVisible(true);
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ((QList<quint16>{calls[0].record.id, calls[2].record.id}), ids);
}

TEST_F(TrayAreaTest, ToolTipIsTrimmedAndCarriedByTheNextAdd) {
    auto control = makeControl();
    control->setToolTip(QStringLiteral("  Norvale 4.3  "));
    EXPECT_EQ(control->ToolTip(), "Norvale 4.3");
    // Tried while hidden, and refused.
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].operation, Operation::Modify);
    EXPECT_EQ(calls[0].record.flags, TrayArea::TipFlag);
    EXPECT_FALSE(calls[0].accepted);

    control->setVisible(true);
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[1].record.flags, TrayArea::MessageFlag | TrayArea::IconFlag | TrayArea::TipFlag);
    EXPECT_EQ(calls[1].record.tip, "Norvale 4.3");

    // Shown: the change goes through, whole; only spaces are trimmed.
    const QString longText = QString(100, u'x') + QStringLiteral("\t ");
    control->setToolTip(longText);
    ASSERT_EQ(calls.size(), 3);
    EXPECT_TRUE(calls[2].accepted);
    EXPECT_EQ(calls[2].record.tip, QString(100, u'x') + u'\t');
    EXPECT_EQ(calls[2].record.id, calls[1].record.id);
    EXPECT_EQ(events, (QList<std::string>{"changed ToolTip", "changed Visible", "changed ToolTip"}));
}

TEST_F(TrayAreaTest, IconNoneRemovesTheIconAndLeavesVisibleFalse) {
    auto control = makeControl();
    control->setVisible(true);
    control->setIcon(shippedIcon());
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[1].operation, Operation::Modify);
    EXPECT_EQ(calls[1].record.flags, TrayArea::IconFlag);
    EXPECT_FALSE(calls[1].record.icon.isNull());

    events.clear();
    control->setIcon(std::nullopt);
    EXPECT_FALSE(control->Visible());
    EXPECT_FALSE(control->Icon().has_value());
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ(calls[2].operation, Operation::Delete);
    EXPECT_EQ(calls[2].record.id, calls[0].record.id);
    EXPECT_TRUE(calls[2].accepted);
    EXPECT_EQ(events, (QList<std::string>{"changed Visible", "changed Icon"}));

    // Hidden: an icon write calls nothing; without an icon the add carries none.
    control->setIcon(std::nullopt);
    control->setVisible(true);
    ASSERT_EQ(calls.size(), 4);
    EXPECT_EQ(calls[3].record.flags, TrayArea::MessageFlag);
}

TEST_F(TrayAreaTest, SavedPropertiesRoundTripAndReadingShowsNothing) {
    PropertyBag saved;
    {
        auto control = makeControl();
        control->setIcon(shippedIcon());
        control->setToolTip(QStringLiteral("Norvale 4.3"));
        control->WriteProperties(saved);
    }
    EXPECT_EQ(saved.Names(), (QStringList{"Icon", "ToolTip"})); // Visible False is the default
    calls.clear();

    auto control = makeControl();
    control->ReadProperties(saved);
    EXPECT_TRUE(calls.isEmpty());
    ASSERT_TRUE(control->Icon().has_value());
    EXPECT_EQ(control->Icon()->pixmap(16, 16).toImage().pixelColor(8, 2), QColor(255, 0, 0));
    EXPECT_EQ(control->ToolTip(), "Norvale 4.3");
    EXPECT_FALSE(control->Visible());
    PropertyBag rewritten;
    control->WriteProperties(rewritten);
    EXPECT_EQ(rewritten.Names(), saved.Names());
    EXPECT_EQ(rewritten.ReadProperty(u"ToolTip", QString()), "Norvale 4.3");

    // Keys in any case; a saved True is stored without showing anything, so writing True again
    // does nothing and it takes False then True to show the icon.
    PropertyBag odd;
    odd.WriteProperty(QStringLiteral("VISIBLE"), true, false);
    odd.WriteProperty(QStringLiteral("tooltip"), QStringLiteral("Salvato"), QString());
    auto restored = makeControl();
    restored->ReadProperties(odd);
    EXPECT_TRUE(restored->Visible());
    EXPECT_FALSE(restored->Icon().has_value());
    EXPECT_EQ(restored->ToolTip(), "Salvato");
    restored->setVisible(true);
    EXPECT_TRUE(calls.isEmpty());
    restored->setVisible(false);
    restored->setVisible(true);
    ASSERT_EQ(calls.size(), 2);
    EXPECT_FALSE(calls[0].accepted); // nothing had been added
    EXPECT_TRUE(calls[1].accepted);
    EXPECT_EQ(calls[1].record.flags, TrayArea::MessageFlag | TrayArea::TipFlag);
    EXPECT_EQ(calls[1].record.tip, "Salvato");
}

TEST_F(TrayAreaTest, TerminationRemovesTheIcon) {
    auto shown = makeControl();
    auto never = makeControl();
    shown->setVisible(true);
    const quint16 id = calls[0].record.id;
    shown.reset();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[1].operation, Operation::Delete);
    EXPECT_EQ(calls[1].record.id, id);
    EXPECT_TRUE(calls[1].accepted);
    never.reset();
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ(calls[2].operation, Operation::Delete);
    EXPECT_FALSE(calls[2].accepted);
}

TEST_F(TrayAreaTest, ReportsWhetherTheDesktopHasATray) {
    EXPECT_TRUE(makeControl(true)->TrayAvailable());
    EXPECT_FALSE(makeControl(false)->TrayAvailable());
    // The desktop's own area: the offscreen platform has no tray. Showing and hiding still work.
    TrayArea desktop;
    EXPECT_FALSE(desktop.TrayAvailable());
    desktop.setIcon(shippedIcon());
    desktop.setToolTip(QStringLiteral("Norvale 4.3"));
    desktop.setVisible(true);
    EXPECT_EQ(desktop.LastRecord().flags, TrayArea::MessageFlag | TrayArea::IconFlag | TrayArea::TipFlag);
    desktop.setVisible(false);
    EXPECT_FALSE(desktop.Visible());
}

TEST(TrayAreaIcon, ShippedIconIsWhatItsMakerDraws) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString drawn = folder.filePath(QStringLiteral("icon.png"));
    ASSERT_EQ(QProcess::execute(QStringLiteral(TRAY_ICON_MAKER), {drawn}), 0);
    const QImage made = QImage(drawn).convertToFormat(QImage::Format_ARGB32);
    const QImage shipped =
        QImage(QStringLiteral(NORVALE_SOURCE_DIR "/assets/") + QLatin1String(TrayArea::IconFileName))
            .convertToFormat(QImage::Format_ARGB32);
    const QImage beside =
        QImage(QStringLiteral(NORVALE_BINARY_DIR "/") + QLatin1String(TrayArea::IconFileName))
            .convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shipped.size(), QSize(16, 16));
    EXPECT_EQ(made, shipped);
    EXPECT_EQ(beside, shipped);
    // A shield on a clear ground: red at the top, yellow at the tip, a white keyhole, dark rim.
    EXPECT_EQ(qAlpha(shipped.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(shipped.pixel(15, 15)), 0);
    EXPECT_EQ(shipped.pixelColor(3, 2), QColor(255, 0, 0));
    EXPECT_EQ(shipped.pixelColor(7, 14), QColor(255, 255, 0));
    EXPECT_EQ(shipped.pixelColor(7, 5), QColor(255, 255, 255));
    EXPECT_EQ(shipped.pixelColor(1, 1), QColor(96, 0, 0));
}

TEST(TrayAreaOnX11, ClicksInARealTrayRaiseTheEvents) {
    if (const QString missing = RealDesktop::Missing(true); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString() << " is not installed: no real tray to check against";
    RealDesktop desktop;
    const QString failure = desktop.Start(true);
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

    QProcess probe;
    desktop.Launch(probe, QStringLiteral(TRAY_AREA_PROBE),
                   {QStringLiteral(NORVALE_SOURCE_DIR "/assets/") + QLatin1String(TrayArea::IconFileName)});
    // Starting a program on a busy machine can take a while.
    const QStringList ready = NextLine(probe, 20000);
    ASSERT_EQ(ready, (QStringList{"ready", "1"})) << probe.readAllStandardError().toStdString();

    // The icon's window, embedded in the tray, or 0 while there is none.
    const auto iconWindow = [&] {
        QString found;
        desktop.Run(QStringLiteral("xdotool"),
                    {QStringLiteral("search"), QStringLiteral("--class"), QStringLiteral("tray_area_probe")},
                    &found);
        for (const QString& id : found.split(u'\n', Qt::SkipEmptyParts)) {
            if (!desktop.Geometry(id.toULongLong()).isEmpty())
                return id.toULongLong();
        }
        return 0ull;
    };
    unsigned long long icon = 0;
    // The tray itself may still be on its way to the screen.
    ASSERT_TRUE(WaitFor([&] { return (icon = iconWindow()) != 0; }, 15000));
    const QStringList place = desktop.Geometry(icon).split(u' ');
    ASSERT_EQ(place.size(), 4);
    EXPECT_EQ(place.mid(2), (QStringList{"22", "22"}));
    const int left = place[0].toInt(), top = place[1].toInt();

    const auto click = [&](int x, int y, const char* button, int times) {
        EXPECT_TRUE(desktop.Run(QStringLiteral("xdotool"),
                                {QStringLiteral("mousemove"), QStringLiteral("--window"),
                                 QString::number(icon), QString::number(x), QString::number(y),
                                 QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(times),
                                 QStringLiteral("--delay"), QStringLiteral("80"), QLatin1String(button)}));
    };
    const auto lines = [&](int count) {
        QStringList read;
        for (int i = 0; i < count; ++i)
            read.append(NextLine(probe).join(u' '));
        return read;
    };
    const auto twips = [](int pixels) { return QString::number(pixels * 15); };

    click(3, 3, "1", 1);
    EXPECT_EQ(lines(2), (QStringList{"down 1 0 " + twips(left + 3) + ' ' + twips(top + 3), "up 1"}));
    // Far enough from the first click not to make a double click with it.
    click(17, 17, "1", 2);
    EXPECT_EQ(lines(4), (QStringList{"down 1 0 " + twips(left + 17) + ' ' + twips(top + 17), "up 1",
                                     "dblclick", "up 1"}));
    click(3, 17, "3", 1);
    EXPECT_EQ(lines(2), (QStringList{"down 2 0 " + twips(left + 3) + ' ' + twips(768), "up 2"}));
    // The middle button raises nothing: the next line is the left click after it.
    click(17, 3, "2", 1);
    click(3, 10, "1", 1);
    EXPECT_EQ(lines(2), (QStringList{"down 1 0 " + twips(left + 3) + ' ' + twips(top + 10), "up 1"}));

    const auto command = [&](const char* name) {
        probe.write(name);
        probe.write("\n");
        return NextLine(probe).join(u' ');
    };
    EXPECT_EQ(command("hide"), "done hide");
    EXPECT_TRUE(WaitFor([&] { return iconWindow() == 0; })) << "hidden, the icon stayed in the tray";
    EXPECT_EQ(command("show"), "done show");
    EXPECT_TRUE(WaitFor([&] { return iconWindow() != 0; })) << "shown again, no icon came";
    EXPECT_EQ(command("end"), "done end");
    EXPECT_TRUE(WaitFor([&] { return iconWindow() == 0; })) << "the control ended, the icon stayed";

    probe.write("quit\n");
    EXPECT_TRUE(probe.waitForFinished(5000));
    EXPECT_EQ(probe.exitCode(), 0);
}
