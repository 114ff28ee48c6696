#pragma once
// One QApplication for a whole GUI test executable (offscreen under CTest), and readable QString
// values in failure messages. Include it in every test file that makes widgets.

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>

#include <memory>
#include <ostream>

namespace testgui {

class Environment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (QApplication::instance())
            return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "quirewell-test";
        static char *argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
        // Tests open and close windows one after another; the last one closing ends nothing.
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

inline const ::testing::Environment *const registered = ::testing::AddGlobalTestEnvironment(new Environment);

}  // namespace testgui

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
