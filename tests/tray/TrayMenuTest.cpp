// The tray menu: its items, how it opens, and what each item does to the line, the phonebook
// lock, the status line and the info strip.
#include "MainWindowFixture.h"

#include "tray/TrayState.h"
#include "tray/frmInfo.h"
#include "tray/frmMenu.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// The fake line, with a look at the phonebook lock at the moment of every call that reaches the
// phonebook.
class WatchedDialer final : public DialerControl {
    Q_OBJECT

public:
    explicit WatchedDialer(QStringList& log) : inner(log) {}
    Q_DISABLE_COPY_MOVE(WatchedDialer)

    FakeDialer inner;
    std::function<void(const QString& call)> onCall;

    QString PhonebookFile() const override { return inner.PhonebookFile(); }
    QString EntryName() const override { return inner.EntryName(); }
    QString EntryNumber() const override { return inner.EntryNumber(); }
    QString EntryUser() const override { return inner.EntryUser(); }
    bool IsOnline() const override { return inner.IsOnline(); }
    qint16 EntryCount() const override { return inner.EntryCount(); }
    QString EntryNameAt(qint16 index) const override { return inner.EntryNameAt(index); }
    QString IpAddress() const override { return inner.IpAddress(); }
    qint16 SelectEntry(const QString& name) override {
        watch(QStringLiteral("SelectEntry ") + name);
        return inner.SelectEntry(name);
    }
    qint32 BytesReceived() const override { return inner.BytesReceived(); }
    qint32 BytesSent() const override { return inner.BytesSent(); }
    void Dial() override {
        watch(QStringLiteral("Dial"));
        inner.Dial();
    }
    void HangUp() override {
        watch(QStringLiteral("HangUp"));
        inner.HangUp();
    }
    void SetWatchOtherCalls(bool on) override { inner.SetWatchOtherCalls(on); }
    void SetReportEveryStage(bool on) override { inner.SetReportEveryStage(on); }
    void SetWatchInterval(qint16 ms) override { inner.SetWatchInterval(ms); }

private:
    void watch(const QString& call) {
        if (onCall)
            onCall(call);
    }
};

class TrayMenuTest : public MainWindowFixture {
protected:
    // Provider authorised with its phonebook number, Office stored but not authorised, Gone
    // authorised but no longer in the phonebook. The phonebook is a real file in the folder.
    void SetUp() override {
        MainWindowFixture::SetUp();
        Tray::Reset();
        Tray::state.Beep = [this] { ++beeps; };
        Tray::state.OpenUrl = [this](const QUrl& url) {
            urls << url;
            return false;
        };
        writeSettings("[Connections]\r\n" +
                      connection(0, QStringLiteral("Provider"), QStringLiteral("0245871200"), true, 32, 230) +
                      connection(1, QStringLiteral("Office"), QStringLiteral("065551234"), false) +
                      connection(2, QStringLiteral("Gone"), QStringLiteral("0612345678"), true));
        QFile book(path(QStringLiteral("phonebook.conf")));
        ASSERT_TRUE(book.open(QIODevice::WriteOnly));
        book.write(phonebook);
        book.close();
        ASSERT_TRUE(book.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    }

    void TearDown() override {
        menu.reset();
        Tray::Reset();
        MainWindowFixture::TearDown();
    }

    // The main window as the program puts it together, its timers stopped, the phonebook locked
    // as the lock timer leaves it.
    void start() {
        auto dialer = std::make_unique<WatchedDialer>(log);
        watched = dialer.get();
        line = &dialer->inner;
        line->entries = {{QStringLiteral("Provider"), QStringLiteral("0245871200")},
                         {QStringLiteral("Office"), QStringLiteral("065551234")}};
        line->phonebookPath = path(QStringLiteral("phonebook.conf"));
        frmNV4::Options options;
        options.programFolder = folder.path();
        options.isAdministrator = [] { return true; };
        options.version = [this] { return version; };
        options.notificationArea = std::make_unique<FakeArea>(true);
        options.endProgram = [this] { ++ended; };
        window = std::make_unique<frmNV4>(std::move(dialer), std::move(options));
        window->Hooks().PlaySound = [this](const QString& file) { sounds << file; };
        window->Hooks().PopupTrayMenu = [this](float x, float y) {
            if (!menu)
                menu = std::make_unique<frmMenu>(*window);
            menu->PopupTrayMenu(x, y);
        };
        window->Form_Load();
        for (QTimer* timer : {window->tmrCycle, window->tmrLock, window->tmrInfo, window->tmrUrl})
            timer->stop();
        if (!Global::state.IsWindows4)
            window->tmrLock_Timer();
        if (!menu)
            menu = std::make_unique<frmMenu>(*window);
        watched->onCall = [this](const QString& call) { calls << call + QStringLiteral(" ") + lockState(); };
        sounds.clear();
        log.clear();
    }

    // The phonebook as another program finds it: held or not, readable or not, writable or not.
    QString lockState() const {
        const QString book = path(QStringLiteral("phonebook.conf"));
        struct stat info {};
        ::stat(QFile::encodeName(book).constData(), &info);
        return QStringLiteral("held=%1 readable=%2 writable=%3")
            .arg(Global::state.PhonebookLockFile.isHeld())
            .arg(Global::FileExists(book))
            .arg((info.st_mode & S_IWUSR) != 0);
    }

    QStringList destinations() const {
        return {Global::state.StatusText, window->tryDialer->ToolTip(), window->lblInfo[0]->toolTip(),
                window->lblStatus->text()};
    }

    static QString locked() { return QStringLiteral("held=1 readable=0 writable=0"); }
    static QString released() { return QStringLiteral("held=0 readable=1 writable=1"); }

    const QByteArray phonebook = "[Dialer Provider]\r\nPhone = 0245871200\r\n";
    WatchedDialer* watched = nullptr;
    std::unique_ptr<frmMenu> menu;
    QStringList calls;
    QList<QUrl> urls;
    int beeps = 0;
};

TEST_F(TrayMenuTest, SevenItemsInOrderOnANeverShownCarrier) {
    start();
    const QList<QAction*> items = menu->mnuTray->actions();
    ASSERT_EQ(items.size(), 7);
    EXPECT_EQ(items, (QList<QAction*>{menu->mnuInfo, menu->mnuLinea0, menu->mnuDisconnetti, menu->mnuConnetti,
                                      menu->mnuHelp, menu->mnuLinea1, menu->mnuChiudi}));
    QStringList captions;
    QList<bool> separators;
    for (QAction* item : items) {
        captions << item->text();
        separators << item->isSeparator();
    }
    EXPECT_EQ(captions, (QStringList{"Norvale", "", "Disconnetti", "Connetti a predefinita", "Aiuto", "",
                                     QStringLiteral("Chiudi questo menù")}));
    EXPECT_EQ(separators, (QList<bool>{false, true, false, false, false, true, false}));
    EXPECT_EQ(menu->mnuTray->title(), QStringLiteral("Norvale"));
    EXPECT_FALSE(menu->isVisible());
}

TEST_F(TrayMenuTest, OnlyARightPressOnTheIconOpensItCentredOnTheCursor) {
    start();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint cursor(screen.center().x(), screen.bottom() - 10);
    window->tryDialer->Callback(TrayArea::LeftDownMessage, cursor, {});
    window->tryDialer->Callback(TrayArea::MiddleDownMessage, cursor, {});
    EXPECT_FALSE(menu->mnuTray->isVisible());

    window->tryDialer->Callback(TrayArea::RightDownMessage, cursor, {});
    ASSERT_TRUE(menu->mnuTray->isVisible());
    const QRect shown = menu->mnuTray->geometry();
    EXPECT_LE(std::abs(shown.center().x() - cursor.x()), 1);
    EXPECT_LE(shown.bottom(), screen.bottom());
    EXPECT_GE(shown.top(), screen.top());
    EXPECT_FALSE(menu->isVisible());

    // "Chiudi questo menù" closes it and does nothing else.
    const QStringList before = destinations();
    menu->mnuChiudi->trigger();
    EXPECT_FALSE(menu->mnuTray->isVisible());
    EXPECT_EQ(destinations(), before);
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_TRUE(sounds.isEmpty());
}

TEST_F(TrayMenuTest, NorvaleBringsTheWindowBackOnTopAndTakesTheIconAway) {
    start();
    window->cmdMin_Click();
    ASSERT_FALSE(window->isVisible());
    ASSERT_TRUE(window->tryDialer->Visible());
    ASSERT_FALSE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    window->tryDialer->Callback(TrayArea::RightDownMessage, QPoint(300, 590), {});
    ASSERT_TRUE(menu->mnuTray->isVisible());
    QTest::mouseClick(menu->mnuTray, Qt::LeftButton, {},
                      menu->mnuTray->actionGeometry(menu->mnuInfo).center());
    EXPECT_FALSE(menu->mnuTray->isVisible());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->tryDialer->Visible());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(TrayMenuTest, DisconnettiHangsUpWithTheLockReleasedConnectedOrNot) {
    start();
    ASSERT_EQ(lockState(), locked());
    for (const bool connected : {false, true}) {
        calls.clear();
        Global::state.Connected = connected;
        menu->mnuDisconnetti->trigger();
        EXPECT_EQ(calls, QStringList{QStringLiteral("HangUp ") + released()}) << connected;
        EXPECT_EQ(lockState(), locked()) << connected;
    }
    EXPECT_EQ(line->hangUps, 2);
    EXPECT_TRUE(sounds.isEmpty());
    Global::UnlockPhonebook(Global::state.PhonebookPath);
    QFile book(path(QStringLiteral("phonebook.conf")));
    ASSERT_TRUE(book.open(QIODevice::ReadOnly));
    EXPECT_EQ(book.readAll(), phonebook);
}

TEST_F(TrayMenuTest, ConnettiBeepsWithoutADefaultAndDialsAnAuthorisedOneWithTheLockReleased) {
    start();
    window->ShowStatus(QStringLiteral("before"));
    const int height = window->height();
    menu->mnuConnetti->trigger();
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(Global::state.StatusText, QStringLiteral("before"));
    EXPECT_EQ(window->height(), height);

    Global::state.DefaultEntryName = QStringLiteral("Provider");
    menu->mnuConnetti->trigger();
    EXPECT_EQ(calls, (QStringList{QStringLiteral("SelectEntry Provider ") + released(),
                                  QStringLiteral("Dial ") + released()}));
    EXPECT_EQ(lockState(), locked());
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(sounds.isEmpty());
    EXPECT_TRUE(Tray::state.Info.isNull());
}

TEST_F(TrayMenuTest, ConnettiRefusesADefaultThatIsNotAuthorised) {
    start();
    const QString text = QStringLiteral("La connessione predefinita non è stata autorizzata...");
    const QString error = Global::state.AppFolder + QStringLiteral("error.mp3");
    // Stored unauthorised, and not stored at all.
    for (const QString& entry : {QStringLiteral("Office"), QStringLiteral("Nowhere")}) {
        window->tmrInfo_Timer();
        window->ShowStatus(QStringLiteral("before"));
        window->tmrInfo->stop();
        sounds.clear();
        Global::state.DefaultEntryName = entry;
        menu->mnuConnetti->trigger();
        EXPECT_EQ(sounds, QStringList{error}) << entry.toStdString();
        EXPECT_EQ(destinations(), (QStringList{text, text, text, text})) << entry.toStdString();
        EXPECT_EQ(window->height(), 48) << entry.toStdString();
        EXPECT_TRUE(window->tmrInfo->isActive()) << entry.toStdString();
        EXPECT_TRUE(calls.isEmpty()) << entry.toStdString();
        EXPECT_EQ(lockState(), locked()) << entry.toStdString();
        EXPECT_EQ(beeps, 0);
        // Before the cycle's first tick: no strip.
        EXPECT_TRUE(Tray::state.Info.isNull()) << entry.toStdString();
    }

    window->tmrCycle_Timer();
    ASSERT_TRUE(Global::state.CycleStarted);
    menu->mnuConnetti->trigger();
    ASSERT_FALSE(Tray::state.Info.isNull());
    EXPECT_EQ(Tray::state.Info->lblInfo->text(), text);
    EXPECT_DOUBLE_EQ(Tray::state.Info->lblInfo->font().pointSizeF(), 8.0);
    EXPECT_TRUE(Tray::state.Info->isVisible());
    EXPECT_TRUE(calls.isEmpty());
}

TEST_F(TrayMenuTest, ConnettiNeverDialsAnotherEntryWhenTheDefaultLeftThePhonebook) {
    start();
    // The component still has an entry selected from earlier.
    ASSERT_EQ(line->SelectEntry(QStringLiteral("Office")), DialerControl::Done);
    Global::state.DefaultEntryName = QStringLiteral("Gone");
    menu->mnuConnetti->trigger();
    EXPECT_EQ(calls, QStringList{QStringLiteral("SelectEntry Gone ") + released()});
    EXPECT_EQ(lockState(), locked());
    EXPECT_EQ(Global::state.StatusText,
              QStringLiteral("Codice errore:  623 - The system could not find the phone book entry for this "
                             "connection."));
    EXPECT_EQ(sounds, QStringList{Global::state.AppFolder + QStringLiteral("error.mp3")});
}

TEST_F(TrayMenuTest, WhereTheWindowNeverLocksThePhonebookTheMenuLeavesItAlone) {
    version = 0x0004; // 4.00
    start();
    ASSERT_TRUE(Global::state.IsWindows4);
    ASSERT_EQ(lockState(), released());
    Global::state.DefaultEntryName = QStringLiteral("Provider");
    menu->mnuConnetti->trigger();
    menu->mnuDisconnetti->trigger();
    EXPECT_EQ(calls,
              (QStringList{QStringLiteral("SelectEntry Provider ") + released(),
                           QStringLiteral("Dial ") + released(), QStringLiteral("HangUp ") + released()}));
    EXPECT_EQ(lockState(), released());
}

TEST_F(TrayMenuTest, AiutoHandsTheHelpFileInTheProgramFolderToTheDesktop) {
    start();
    menu->mnuHelp->trigger();
    ASSERT_EQ(urls.size(), 1);
    EXPECT_TRUE(urls[0].isLocalFile());
    EXPECT_EQ(urls[0].toLocalFile(), QDir(folder.path()).filePath(QStringLiteral("norvale.hlp")));
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_TRUE(MessageBox::Record().isEmpty());

    // The document shipped next to the program: an Italian HTML page.
    QFile help(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("norvale.hlp")));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly));
    const QByteArray page = help.readAll();
    EXPECT_TRUE(page.startsWith("<!DOCTYPE html>"));
    EXPECT_TRUE(page.contains("<html lang=\"it\">"));
    EXPECT_TRUE(page.contains("Connetti a predefinita"));
}

// With the shipped type note registered, the desktop's type database takes the help file for
// HTML (and so opens it in the browser), while any other .hlp file stays a Windows help file.
TEST(HelpFileType, TheDesktopTakesTheShippedHelpForHtml) {
    const QString update = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (update.isEmpty() || gio.isEmpty())
        GTEST_SKIP() << "shared-mime-info or gio missing";
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QDir program(QCoreApplication::applicationDirPath());
    const QDir data(home.path());
    ASSERT_TRUE(data.mkpath(QStringLiteral("mime/packages")));
    ASSERT_TRUE(QFile::copy(program.filePath(QStringLiteral("norvale-help.xml")),
                            data.filePath(QStringLiteral("mime/packages/norvale-help.xml"))));
    for (const QString& name : {QStringLiteral("norvale.hlp"), QStringLiteral("other.hlp")})
        ASSERT_TRUE(QFile::copy(program.filePath(QStringLiteral("norvale.hlp")), data.filePath(name)));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    const auto run = [&](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    run(update, {data.filePath(QStringLiteral("mime"))});
    const auto typeOf = [&](const QString& name) {
        return run(gio, {QStringLiteral("info"), QStringLiteral("-a"),
                         QStringLiteral("standard::content-type"), data.filePath(name)});
    };
    EXPECT_TRUE(typeOf(QStringLiteral("norvale.hlp")).contains(QStringLiteral("content-type: text/html")));
    EXPECT_TRUE(
        typeOf(QStringLiteral("other.hlp")).contains(QStringLiteral("content-type: application/winhlp")));
}

} // namespace

#include "TrayMenuTest.moc"
