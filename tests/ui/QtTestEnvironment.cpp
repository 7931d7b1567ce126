// One QApplication for the whole run of a test executable, made before the first test
// and destroyed after the last, inside main().

#include "ui/title.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        app_ = new QApplication(argc_, argv_);
        morvane::configureApplication();
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[16] = "morvane_ui_test";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
} // namespace
