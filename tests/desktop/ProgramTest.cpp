#include "DesktopSession.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>

namespace {

// The real program on a real display, driven only from outside.
class Program : public ::testing::Test {
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
        program.setProcessEnvironment(session->environment());
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        program.start(folder.path("norvale"), {});
        ASSERT_TRUE(program.waitForStarted(5000));
    }

    // Ends the program the way a logout does.
    void terminate() {
        ::kill(pid_t(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    }

    bool othersCanRead(const QString& name) const {
        int code = -1;
        session->run(QStringLiteral("cat"), {folder.path(name)}, &code);
        return code == 0;
    }

    static std::unique_ptr<DesktopSession> session;
    ProgramFolder folder;
    QProcess program;
};

std::unique_ptr<DesktopSession> Program::session;

} // namespace

TEST_F(Program, FirstRunHoldsTheNewSettingsFileLockedUntilItEnds) {
    start();
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(folder.path("nv4.ini")); }));
    ASSERT_TRUE(waitUntil([&] { return !othersCanRead("nv4.ini"); }));
    terminate();
    EXPECT_TRUE(othersCanRead("nv4.ini"));
    EXPECT_TRUE(folder.read("nv4.ini").startsWith(";Norvale 4.2 - ini file\r\n"));
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
