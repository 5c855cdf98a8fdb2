#include "DesktopSession.h"

#include "settings/ValueEncoding.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>

namespace {

const QString StripTitle = QStringLiteral("Norvale 4.0");
const QString SetupTitle = QStringLiteral("Setup");
const QSize TrayIconSize(22, 22);

// Places in pixels at 15 twips a pixel. The strip's buttons, from its top-left corner.
const QRect SetupButton(448, 4, 17, 17);
const QRect MinimiseButton(468, 4, 17, 17);
// The setup dialog's controls, from the top-left corner of its client area.
const QRect EntryList(8, 76, 261, 69);
const QRect AuthoriseBox(12, 196, 13, 13);
const QRect DefaultBox(12, 216, 13, 13);
const QRect OkButton(44, 332, 65, 33);

const QString ProviderName = QStringLiteral("Provider");
// What the sample phonebook composes for it: no prefix, no area code.
const QString ProviderNumber = QStringLiteral("0245871200");
// The first entry is the phonebook's own [Dialer Defaults].
constexpr int ProviderRow = 1;

// The real program made to authorise an entry and mark it as the default through its setup dialog,
// then to dial it from the tray menu, all with the mouse and the keyboard from outside.
class SetupDesktop : public ::testing::Test {
protected:
    static void SetUpTestSuite() { session = std::make_unique<DesktopSession>(); }
    static void TearDownTestSuite() { session.reset(); }

    void SetUp() override {
        if (!session->problem().isEmpty())
            GTEST_SKIP() << session->problem().toStdString();
        folder.write("dialer.conf", "stage_ms=100\n");
    }

    void TearDown() override {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    }

    void start() {
        QProcessEnvironment env = session->environment();
        env.insert(QStringLiteral("NORVALE_AUDIO_SINK"), QStringLiteral("fakesink sync=true"));
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.setStandardOutputFile(QProcess::nullDevice());
        program.start(folder.path("norvale"), {});
        ASSERT_TRUE(program.waitForStarted(5000));
    }

    void terminate() {
        ::kill(pid_t(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    }

    bool mapped(qulonglong window) const {
        bool shown = false;
        return session->geometry(window, &shown) && shown;
    }

    std::optional<qulonglong> shownWindow(const QString& title, int milliseconds = 10000) const {
        std::optional<qulonglong> window;
        const bool found = waitUntil(
            [&] {
                window = session->findWindow(title);
                return window && mapped(*window);
            },
            milliseconds);
        return found ? window : std::nullopt;
    }

    std::optional<QRect> trayIcon(int milliseconds = 10000) const {
        std::vector<std::pair<qulonglong, QRect>> icons;
        if (!waitUntil([&] { return (icons = session->trayIcons(TrayIconSize)).size() == 1; }, milliseconds))
            return std::nullopt;
        return icons.front().second;
    }

    void xdotool(const QStringList& arguments) const { session->run(QStringLiteral("xdotool"), arguments); }

    void click(QPoint at, int button = 1, int count = 1) const {
        QStringList arguments{"mousemove", "--sync", QString::number(at.x()), QString::number(at.y()),
                              "click"};
        if (count > 1)
            arguments << "--repeat" << QString::number(count) << "--delay"
                      << "80";
        arguments << QString::number(button);
        xdotool(arguments);
    }

    // Clicks, and clicks once more when the expected reaction does not come.
    bool clickUntil(QPoint at, const std::function<bool()>& reacted, int count = 1) const {
        for (int attempt = 0; attempt < 2; ++attempt) {
            click(at, 1, count);
            if (waitUntil(reacted, 3000))
                return true;
        }
        return false;
    }

    QJsonObject lineStatus() const {
        return QJsonDocument::fromJson(
                   session->run(folder.path("norvale-line"), {QStringLiteral("status")}).toUtf8())
            .object();
    }

    QJsonObject lastCallWhen(const QStringList& outcomes) const {
        QJsonObject call;
        waitUntil([&] {
            const QJsonArray calls = lineStatus().value(QStringLiteral("calls")).toArray();
            call = calls.isEmpty() ? QJsonObject() : calls.last().toObject();
            return outcomes.contains(call.value(QStringLiteral("outcome")).toString());
        });
        return call;
    }

    static std::unique_ptr<DesktopSession> session;
    ProgramFolder folder;
    QProcess program;
};

std::unique_ptr<DesktopSession> SetupDesktop::session;

bool isSelectionColour(const QColor& colour) {
    return colour.blue() > colour.red() + 60 && colour.blue() > 120;
}

// The rows of the picture that show the list's selection bar, top and bottom.
std::optional<std::pair<int, int>> selectionBand(const QImage& list) {
    int top = -1, bottom = -1;
    for (int y = 0; y < list.height(); ++y) {
        int lit = 0;
        for (int x = 0; x < list.width(); ++x)
            lit += isSelectionColour(list.pixelColor(x, y)) ? 1 : 0;
        if (lit > list.width() / 2) {
            if (top < 0)
                top = y;
            bottom = y;
        }
    }
    if (top < 0)
        return std::nullopt;
    return std::make_pair(top, bottom);
}

QString savedShot(const QImage& image, const char* name) {
    const QString file = QDir::temp().filePath(QLatin1String(name));
    image.save(file);
    return file;
}

// Lines of the settings file from the given one on, each with its CR LF.
QByteArrayList iniLines(const QByteArray& ini, const QByteArray& first, int count) {
    const qsizetype at = ini.indexOf(first);
    if (at < 0)
        return {};
    QByteArrayList lines;
    qsizetype from = at;
    for (int i = 0; i < count && from < ini.size(); ++i) {
        const qsizetype end = ini.indexOf('\n', from);
        const qsizetype stop = end < 0 ? ini.size() : end + 1;
        lines.append(ini.mid(from, stop - from));
        from = stop;
    }
    return lines;
}

} // namespace

TEST_F(SetupDesktop, EntryAuthorisedAndMadeDefaultWithTheMouseIsSavedAndDialledFromTheTrayMenu) {
    QElapsedTimer clock;
    clock.start();
    start();
    const std::optional<qulonglong> strip = shownWindow(StripTitle);
    ASSERT_TRUE(strip);

    // The buttons are enabled before the strip first goes into the tray; it is brought back from
    // there, so that no click races the hiding.
    ASSERT_TRUE(waitUntil([&] { return !mapped(*strip); }));
    std::optional<QRect> icon = trayIcon();
    ASSERT_TRUE(icon);
    ASSERT_TRUE(clickUntil(
        icon->center(), [&] { return mapped(*strip); }, 2));
    std::optional<QRect> stripPlace = session->geometry(*strip);
    ASSERT_TRUE(stripPlace);

    std::optional<qulonglong> setup;
    ASSERT_TRUE(clickUntil(stripPlace->topLeft() + SetupButton.center(), [&] {
        setup = session->findWindow(SetupTitle);
        return setup && mapped(*setup);
    }));
    // The window manager may still move it into place: its place counts once two readings agree.
    std::optional<QRect> dialog = session->geometry(*setup);
    ASSERT_TRUE(waitUntil(
        [&] {
            QThread::msleep(150);
            const std::optional<QRect> now = session->geometry(*setup);
            const bool settled = now && now == dialog;
            dialog = now;
            return settled;
        },
        5000));
    EXPECT_EQ(dialog->size(), QSize(277, 371));
    const QPoint origin = dialog->topLeft();
    auto listBand = [&] {
        return selectionBand(session->screenshot().copy(EntryList.translated(origin).adjusted(2, 2, -2, -2)));
    };
    ASSERT_FALSE(listBand()) << "an entry is selected before any click";

    // The rows' height is not known beforehand: the selection bar shows it and where a row lies.
    const int rowGuess = 14;
    QPoint rowPoint = origin + EntryList.topLeft() + QPoint(60, 2 + rowGuess * ProviderRow + rowGuess / 2);
    std::optional<std::pair<int, int>> band;
    ASSERT_TRUE(clickUntil(rowPoint, [&] { return bool(band = listBand()); }));
    const int rowHeight = band->second - band->first + 1;
    ASSERT_GT(rowHeight, 8);
    // The list's frame shifts the rows by less than half a row.
    auto rowOf = [&](const std::pair<int, int>& bar) { return (bar.first + rowHeight / 2) / rowHeight; };
    if (rowOf(*band) != ProviderRow) {
        rowPoint = origin + EntryList.topLeft() + QPoint(60, 2 + rowHeight * ProviderRow + rowHeight / 2);
        ASSERT_TRUE(clickUntil(rowPoint, [&] {
            band = listBand();
            return band && rowOf(*band) == ProviderRow;
        }));
    }
    ASSERT_EQ(rowOf(*band), ProviderRow) << band->first << " " << rowHeight;

    // A tick shows as dark pixels in the white box.
    auto ticked = [&](const QRect& box) {
        const QImage shot = session->screenshot().copy(box.translated(origin).adjusted(2, 2, -2, -2));
        int dark = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x)
                dark += qGray(shot.pixel(x, y)) < 100 ? 1 : 0;
        }
        return dark >= 4;
    };
    ASSERT_FALSE(ticked(AuthoriseBox));
    ASSERT_FALSE(ticked(DefaultBox));
    ASSERT_TRUE(clickUntil(origin + AuthoriseBox.center(), [&] { return ticked(AuthoriseBox); }));
    ASSERT_TRUE(clickUntil(origin + DefaultBox.center(), [&] { return ticked(DefaultBox); }));
    session->run(QStringLiteral("xdotool"), {"mousemove", "900", "700"});
    QThread::msleep(200);
    const QImage dialogShot = session->screenshot().copy(*dialog);
    std::cout << "setup dialog: " << savedShot(dialogShot, "norvale-setup-dialog.png").toStdString() << '\n';

    ASSERT_TRUE(clickUntil(origin + OkButton.center(), [&] { return !mapped(*setup); }));

    // Into the tray with its own button, then the menu from the icon's right button.
    stripPlace = session->geometry(*strip);
    ASSERT_TRUE(stripPlace);
    ASSERT_TRUE(clickUntil(stripPlace->topLeft() + MinimiseButton.center(), [&] { return !mapped(*strip); }));
    icon = trayIcon();
    ASSERT_TRUE(icon);
    const QImage beforeMenu = session->screenshot();
    QRect menu;
    auto menuShown = [&] {
        const QImage now = session->screenshot();
        QRect changed;
        for (int y = 0; y < now.height(); y += 2) {
            for (int x = 0; x < now.width(); x += 2) {
                if (now.pixel(x, y) != beforeMenu.pixel(x, y) && !icon->adjusted(-4, -4, 4, 4).contains(x, y))
                    changed |= QRect(x, y, 2, 2);
            }
        }
        menu = changed;
        return changed.width() > 60 && changed.height() > 60;
    };
    bool opened = false;
    for (int attempt = 0; attempt < 2 && !opened; ++attempt) {
        click(icon->center(), 3);
        opened = waitUntil(menuShown, 3000);
    }
    ASSERT_TRUE(opened);
    QThread::msleep(200);
    menuShown();
    // "Norvale", then past the separator "Disconnetti" and "Connetti a predefinita".
    xdotool({"key", "--delay", "100", "Down", "Down", "Down"});
    QThread::msleep(300);
    const QImage menuShot =
        session->screenshot().copy((menu | *icon).adjusted(-40, -40, 40, 40) & QRect(0, 0, 1280, 1024));
    std::cout << "tray menu: " << savedShot(menuShot, "norvale-tray-menu.png").toStdString() << " at "
              << menu.x() << "," << menu.y() << " " << menu.width() << "x" << menu.height() << '\n';
    xdotool({"key", "Return"});
    const QJsonObject call = lastCallWhen({QStringLiteral("hung-up"), QStringLiteral("connected")});
    EXPECT_EQ(call.value(QStringLiteral("outcome")).toString(), QStringLiteral("connected"));
    EXPECT_EQ(call.value(QStringLiteral("entry")).toString(), ProviderName);
    EXPECT_EQ(call.value(QStringLiteral("placed_by")).toString(), QStringLiteral("norvale"));
    EXPECT_EQ(call.value(QStringLiteral("number")).toString(), ProviderNumber);

    terminate();
    const QByteArray ini = folder.read("nv4.ini");
    const QRegularExpression row(
        QStringLiteral("\r\nConName(\\d+)=%1\r\n").arg(Global::EncodeValue(ProviderName)));
    const QRegularExpressionMatch found = row.match(QString::fromLatin1(ini));
    ASSERT_TRUE(found.hasMatch()) << ini.toStdString();
    const QString n = found.captured(1);
    const QByteArrayList expected{
        QStringLiteral("ConName%1=%2\r\n").arg(n, Global::EncodeValue(ProviderName)).toLatin1(),
        QStringLiteral("ConNumber%1=%2\r\n").arg(n, Global::EncodeValue(ProviderNumber)).toLatin1(),
        QStringLiteral("ConAuth%1=true\r\n").arg(n).toLatin1(),
        QStringLiteral("ConPred%1=true\r\n").arg(n).toLatin1(),
        // "Connessione 56k", the option a new entry gets, and its rates.
        QStringLiteral("SpeedType%1=0\r\n").arg(n).toLatin1(),
        QStringLiteral("SpeedUp%1=10\r\n").arg(n).toLatin1(),
        QStringLiteral("SpeedDown%1=14\r\n").arg(n).toLatin1(),
    };
    EXPECT_EQ(iniLines(ini, expected.front(), int(expected.size())), expected) << ini.toStdString();
    // The only entry authorised, and the only default.
    const QString text = QString::fromLatin1(ini);
    EXPECT_EQ(text.count(QRegularExpression(QStringLiteral("\r\nConAuth\\d+=true\r\n"))), 1);
    EXPECT_EQ(text.count(QRegularExpression(QStringLiteral("\r\nConPred\\d+=true\r\n"))), 1);
    std::cout << "took " << clock.elapsed() << " ms\n";
}
