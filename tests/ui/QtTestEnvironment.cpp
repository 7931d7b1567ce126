// One QApplication for the whole run of a test executable, made before the first test
// and destroyed after the last, inside main().

#include "ui/title.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <gtest/gtest.h>

namespace {
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        app_ = new QApplication(argc_, argv_);
        morvane::configureApplication();
        // Layouts a test leaves go to a folder of the run's own, never the user's
        // settings, so no test opens a window sized by an earlier one.
        settings_ =
            QDir::temp().filePath(QStringLiteral("morvane-ui-settings-%1").arg(QCoreApplication::applicationPid()));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings_);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
        QDir(settings_).removeRecursively();
    }

private:
    int argc_ = 1;
    char name_[16] = "morvane_ui_test";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
    QString settings_;
};

[[maybe_unused]] ::testing::Environment* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);
} // namespace
