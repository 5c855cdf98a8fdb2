#pragma once

#include "TestFiles.h"
#include "dialer/DialerControl.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

// The application object the tests' event loops need, for the whole test program, and file helpers.
class TestApp final : public ::testing::Environment {
public:
    void SetUp() override { m_app = std::make_unique<QCoreApplication>(m_argc, m_argv); }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[16] = "dialer_tests";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QCoreApplication> m_app;
};

inline const auto* const testApp = ::testing::AddGlobalTestEnvironment(new TestApp);

// What a component tells, one word a signal: the stage, "connect", "disconnect" or "error CODE"; the
// errors' texts apart.
struct Told : QStringList {
    Told() = default;
    explicit Told(DialerControl& d) { watch(d); }
    void watch(DialerControl& d) {
        QObject::connect(&d, &DialerControl::Status, [this](int s) { *this << QString::number(s); });
        QObject::connect(&d, &DialerControl::Connect, [this] { *this << "connect"; });
        QObject::connect(&d, &DialerControl::Disconnect, [this] { *this << "disconnect"; });
        QObject::connect(&d, &DialerControl::LastError, [this](int code, const QString& text) {
            *this << QString("error %1").arg(code);
            texts << text;
        });
    }
    bool waitFor(qsizetype count) const {
        return QTest::qWaitFor([&] { return size() >= count; }, 20000);
    }
    QStringList texts;
};

// What the program logs while it lives, one message a line.
class Logged final : public QStringList {
public:
    Logged() : m_previous(qInstallMessageHandler(&Logged::keep)) { current() = this; }
    ~Logged() {
        qInstallMessageHandler(m_previous);
        current() = nullptr;
    }
    Q_DISABLE_COPY_MOVE(Logged)
    qsizetype mentions(const QString& part) const { return filter(part).size(); }

private:
    static Logged*& current() {
        static Logged* logged = nullptr;
        return logged;
    }
    static void keep(QtMsgType, const QMessageLogContext&, const QString& message) {
        if (current())
            current()->append(message);
    }
    QtMessageHandler m_previous;
};
