#include "TestApp.h"

#include "dialer/DialerSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

// "backend stage_ms down_bps up_bps chat pppd phonebook" as read from the folder.
static QString settingsOf(const QString& folder) {
    const DialerSettings s = DialerSettings::read(folder);
    return QString("%1 %2 %3 %4 %5 %6 %7")
        .arg(s.backend == DialerSettings::Backend::Ppp ? "ppp" : "simulated")
        .arg(s.stageMs)
        .arg(s.downBps)
        .arg(s.upBps)
        .arg(s.chat, s.pppd, s.phonebook);
}

TEST(DialerSettings, MalformedFileKeepsWhatIsValidAndAConfiguredPhonebookMustExist) {
    QTemporaryDir dir;
    const QString folder = dir.path() + '/';
    writeBytes(folder + "phonebook.conf", "[Dialer X]\n");
    EXPECT_EQ(settingsOf(folder), "simulated 1000 5000 1200 chat pppd " + folder + "phonebook.conf");
    writeBytes(folder + "dialer.conf",
               QByteArray(1, '\0') +
                   "\x01\xff garbage without equals\r\n# stage_ms=5\r\nstage_ms = 40\r\n"
                   "STAGE_MS=oops\r\ndown_bps=-5\r\nup_bps= 99999999999\r\n"
                   "backend=modem\r\n=7\r\ncolour=blue\r\nchat = /opt/chat\r\npppd=\r\n" +
                   QByteArray(200000, 'z') + "\nstage_ms=3\n");
    // The over-long line is left out and the lines after it still count.
    EXPECT_EQ(settingsOf(folder), "simulated 3 5000 1200 /opt/chat pppd " + folder + "phonebook.conf");

    writeBytes(folder + "dialer.conf",
               "backend = ppp\nphonebook=book.conf\nstage_ms=0\ndown_bps=10\nup_bps=0\n");
    EXPECT_EQ(settingsOf(folder), "ppp 0 10 0 chat pppd ");
    writeBytes(folder + "book.conf", "");
    EXPECT_EQ(DialerSettings::read(folder).phonebook, folder + "book.conf");
    writeBytes(folder + "dialer.conf", "backend=ppp\n");
    EXPECT_EQ(DialerSettings::read(folder).phonebook,
              QFileInfo("/etc/wvdial.conf").isFile() ? "/etc/wvdial.conf" : "");
}

// A file size limit fails the copy as a full disk does: no phonebook rather than a cut one. The whole
// copy is the installed guard's first start (tests/e2e/first-run.sh).
TEST(DialerSettings, TheSampleIsCopiedWholeOrNotAtAll) {
    QTemporaryDir dir;
    const QString phonebook = dir.filePath("phonebook.conf");
    const QByteArray sample = "[Dialer Provider]\nPhone = 0245871200\n" + QByteArray(200, '#') + '\n';
    writeBytes(dir.filePath("phonebook.sample.conf"), sample);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{64, old.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString copied = DialerSettings::read(dir.path()).phonebook;
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(copied, "");
    EXPECT_FALSE(QFileInfo::exists(phonebook));
}

// Installed, a relative phonebook is the administrator's, beside dialer.conf. That dialer.conf is read
// from the administrator's folder and the sample copied into the guard's state is what every installed
// black-box run shows (tests/e2e/first-run.sh).
TEST(DialerSettings, ARelativePhonebookIsBesideDialerConf) {
    QTemporaryDir dir;
    const InstallFolders folders{dir.filePath("share"), dir.filePath("etc"), dir.filePath("state"), dir.filePath("run")};
    ASSERT_TRUE(QDir().mkpath(folders.config));
    writeBytes(folders.config + "/dialer.conf", "phonebook=book.conf\n");
    writeBytes(folders.config + "/book.conf", "");
    EXPECT_EQ(DialerSettings::read(folders).phonebook, folders.config + "/book.conf");
}
