#pragma once
// Tstartup: the frameless splash with the title and the version, shown for two seconds
// or until clicked, which then brings up the main window. It holds the program's
// title and version texts for the About box, and the release switch: a non-release
// build also shows the log window and keeps a copy of the program folder per version.
// ProgramEntry creates the three windows in their order and runs the event loop.

#include "ui/Platform.h"

#include <QString>
#include <QWidget>

#include <optional>

class QCheckBox;
class QLocale;
class QLabel;
class QTimer;

namespace morvane {

class Tmain;
class TLog;

class Tstartup : public QWidget {
    Q_OBJECT
public:
    explicit Tstartup(const Environment& env, QWidget* parent = nullptr);

    // The windows the splash hands over to; set once all three exist. If the splash
    // time ran out before, the hand-over follows as soon as the event loop runs.
    void setWindows(Tmain* main, TLog* log);

    void FormCreate();
    void Timer1Timer();
    void FormClick();
    void VersionSnapshot();

    bool ReleaseMode() const { return releaseMode_; }
    const QString& TitleText() const { return titleText_; }
    const QString& VersionText() const { return versionText_; }

    QLabel* TitleLabel;
    QLabel* VersionLabel;
    QLabel* CopyRightLabel;
    QLabel* SinceLabel;
    QCheckBox* ReleaseCheck;
    QTimer* Timer1;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void centreLabel(QLabel* label);

    const Environment& env_;
    Tmain* main_ = nullptr;
    TLog* log_ = nullptr;
    bool releaseMode_ = true;
    bool handOverDue_ = false;
    QString titleText_;
    QString versionText_;
};

// "Version " and the four numbers of the product version, or nothing.
std::optional<QString> versionText(const VersionBlock& block);

// The application as the program runs it: its title, its font, and no automatic end
// when a window closes (the splash hides, the log window may close; only AppEnd ends).
void configureApplication();

// Qt's own texts (the file chooser, the edit menus, the standard buttons) in the
// language of locale, from the translations installed with Qt (Debian's
// qt6-translations-l10n); false when there are none for it.
bool installQtTranslations(const QLocale& locale);

// The program: the splash, the main window and the log window on the real desktop.
int ProgramEntry(int argc, char** argv);

} // namespace morvane
