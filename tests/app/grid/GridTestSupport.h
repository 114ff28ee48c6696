#pragma once
// A QApplication for the grid tests (offscreen platform set by the test runner).

#include <QApplication>
#include <gtest/gtest.h>

namespace gridtest {

class QtApplicationEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (!QApplication::instance()) {
            qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
            static int argc = 1;
            static char name[] = "gridtest";
            static char *argv[] = {name, nullptr};
            m_app = new QApplication(argc, argv);
        }
    }
    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
    }

private:
    QApplication *m_app = nullptr;
};

inline ::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace gridtest

#include <QString>
#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
