#pragma once

#include <QCoreApplication>

#include <memory>

// The application object the tests' event loops need, one per test.
class TestApp final {
public:
    TestApp() : m_app(std::make_unique<QCoreApplication>(m_argc, m_argv)) {}
    ~TestApp() = default;
    Q_DISABLE_COPY_MOVE(TestApp)

private:
    int m_argc = 1;
    char m_name[16] = "dialer_ppp";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QCoreApplication> m_app;
};
