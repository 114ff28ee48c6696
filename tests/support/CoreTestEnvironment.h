#pragma once
// One QCoreApplication for a whole widget-free test executable (the search core's queued
// signals need an event loop). Include it in every such test file.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <memory>

namespace testcore {

class Environment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (QCoreApplication::instance())
            return;
        static int argc = 1;
        static char name[] = "quirewell-core-test";
        static char *argv[] = {name, nullptr};
        m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QCoreApplication> m_app;
};

inline const ::testing::Environment *const registered = ::testing::AddGlobalTestEnvironment(new Environment);

}  // namespace testcore
