#include "ui/title.h"

#include "common/Clock.h"
#include "common/Paths.h"
#include "ui/Logpas.h"
#include "ui/SysCtrls.h"
#include "ui/mainpas.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMouseEvent>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>

#include <memory>
#include <system_error>

namespace morvane {

std::optional<QString> versionText(const VersionBlock& block) {
    const std::optional<FixedVersion> fixed = block.read();
    if (!fixed)
        return std::nullopt;
    return QStringLiteral("Version %1.%2.%3.%4")
        .arg(fixed->productVersionMS >> 16)
        .arg(fixed->productVersionMS & 0xffff)
        .arg(fixed->productVersionLS >> 16)
        .arg(fixed->productVersionLS & 0xffff);
}

Tstartup::Tstartup(const Environment& env, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), env_(env) {
    setObjectName(QStringLiteral("startup"));
    setWindowTitle(QStringLiteral("title"));
    setFont(programFont());
    setFixedSize(367, 106);

    TitleLabel = new QLabel(QStringLiteral("Morvane"), this);
    TitleLabel->setObjectName(QStringLiteral("TitleLabel"));
    TitleLabel->setFont(programFont(48));
    VersionLabel = new QLabel(QStringLiteral("version 0.00"), this);
    VersionLabel->setObjectName(QStringLiteral("VersionLabel"));
    CopyRightLabel = new QLabel(QStringLiteral("Morvane の開発者たち"), this);
    CopyRightLabel->setObjectName(QStringLiteral("CopyRightLabel"));
    SinceLabel = new QLabel(QStringLiteral("since 1999/12/06"), this);
    SinceLabel->setObjectName(QStringLiteral("SinceLabel"));
    TitleLabel->move(0, 8);
    VersionLabel->move(0, 56);
    CopyRightLabel->move(0, 72);
    SinceLabel->move(0, 88);

    ReleaseCheck = new QCheckBox(QStringLiteral("Release"), this);
    ReleaseCheck->setObjectName(QStringLiteral("ReleaseCheck"));
    ReleaseCheck->setGeometry(16, 72, 65, 17);
    ReleaseCheck->setChecked(env.releaseCheck);
    ReleaseCheck->setVisible(false);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);
    connect(Timer1, &QTimer::timeout, this, &Tstartup::Timer1Timer);
    Timer1->start();

    FormCreate();
}

void Tstartup::setWindows(Tmain* main, TLog* log) {
    main_ = main;
    log_ = log;
    // The time ran out while the main window was still being made (an error box of its
    // start-up stayed open): the hand-over happens as soon as the event loop runs.
    if (handOverDue_) {
        handOverDue_ = false;
        Timer1->start(0);
    }
}

void Tstartup::FormCreate() {
    releaseMode_ = ReleaseCheck->isChecked();
    if (env_.version)
        if (std::optional<QString> text = versionText(*env_.version))
            VersionLabel->setText(*text);
    // The splash stays off the taskbar by being a splash window; nothing to hide here.
    titleText_ = TitleLabel->text();
    versionText_ = VersionLabel->text();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + area.width() / 2 - width() / 2, area.y() + area.height() / 2 - height() / 2);
    }
    for (QLabel* label : {TitleLabel, VersionLabel, SinceLabel, CopyRightLabel})
        centreLabel(label);
}

void Tstartup::centreLabel(QLabel* label) {
    label->adjustSize();
    if (label == TitleLabel)
        label->resize(label->width(), 48);
    label->move(width() / 2 - label->width() / 2, label->y());
}

void Tstartup::Timer1Timer() {
    Timer1->stop();
    if (!main_) {
        // Nothing to hand over to yet; hiding now would leave the splash, shown later,
        // on screen for good.
        handOverDue_ = true;
        return;
    }
    if (!releaseMode_)
        VersionSnapshot();
    // A release build's main window already has its fixed frame.
    if (!releaseMode_ && log_)
        log_->show();
    main_->show();
    main_->activateWindow();
    hide();
}

void Tstartup::FormClick() {
    if (main_)
        main_->show();
    hide();
    Timer1->stop();
}

void Tstartup::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void Tstartup::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        FormClick();
}

void Tstartup::VersionSnapshot() {
    namespace fs = std::filesystem;
    const fs::path folder = env_.programFolder;
    const fs::path target = folder / versionText_.toStdString();
    std::error_code ec;
    // One snapshot per version: any entry of that name means it was taken.
    if (fs::exists(fs::symlink_status(target, ec)))
        return;
    fs::create_directories(target, ec);
    // Entries that cannot be copied as files (folders, this snapshot among them) are
    // passed over, as is every copy that fails.
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code copyError;
        fs::copy_file(it->path(), target / it->path().filename(), fs::copy_options::overwrite_existing, copyError);
    }
    env_.messages->information(QStringLiteral("自動バージョン管理"), versionText_ + QStringLiteral("を記録しました"));
}

namespace {

// Qt's own file chooser sizes its size, type and date columns for "128.88 GB" and an
// English date in the default font; Japanese units and dates in this program's font
// overflow them ("33.…KiB"). Those columns follow their contents instead; the name
// column keeps the room that is left. Applied to every chooser as it shows, the ones
// the static QFileDialog functions make among them.
class FileDialogColumns : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            if (auto* dialog = qobject_cast<QFileDialog*>(watched))
                if (auto* details = dialog->findChild<QTreeView*>(QStringLiteral("treeView")))
                    for (int column = 1; column < details->header()->count(); ++column)
                        details->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

bool installQtTranslations(const QLocale& locale) {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

void configureApplication() {
    // Once per application, though tests configure theirs more than once.
    const QString columns = QStringLiteral("FileDialogColumns");
    if (!qApp->findChild<QObject*>(columns, Qt::FindDirectChildrenOnly)) {
        auto* filter = new FileDialogColumns(qApp);
        filter->setObjectName(columns);
        qApp->installEventFilter(filter);
    }
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    // Ties the windows to the installed menu entry, whose icon a Wayland desktop shows.
    QGuiApplication::setDesktopFileName(QStringLiteral(MORVANE_APP_ID));
    QApplication::setWindowIcon(applicationIcon());
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setFont(programFont());
}

int ProgramEntry(int argc, char** argv) {
    QApplication app(argc, argv);
    configureApplication();
    // Without it the file chooser and the edit menus would be English in a Japanese
    // program; a locale Qt has no translation for keeps Qt's English.
    installQtTranslations(QLocale::system());

    QtMessageBoxes messages;
    QtDocumentOpener opener;
    QtTrayShell trayShell;
    CompiledVersionBlock version;
    Environment env;
    try {
        env.programFolder = ProgramFolder();
    } catch (const MorvaneError& e) {
        // Without a folder for its files the program has nothing to show.
        showError(messages, e);
        return 1;
    }
    env.messages = &messages;
    env.opener = &opener;
    env.trayShell = &trayShell;
    env.version = &version;
    env.clock = &systemClock();
    env.desktopFolder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);

    Tstartup startup(env);
    std::unique_ptr<Tmain> main;
    try {
        main = std::make_unique<Tmain>(env, startup);
    } catch (const MorvaneError& e) {
        // The tray icon refused: the program does not start.
        showError(messages, e);
        return 1;
    }
    TLog log;
    startup.setWindows(main.get(), &log);
    startup.show();
    return app.exec();
}

} // namespace morvane
