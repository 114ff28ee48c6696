#pragma once
// One QApplication for a whole GUI test executable (offscreen under CTest).

#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

namespace testgui {

class Environment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "quirewell-test";
        static char *argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QApplication> m_app;
};

inline const ::testing::Environment *const registered = ::testing::AddGlobalTestEnvironment(new Environment);

}  // namespace testgui
