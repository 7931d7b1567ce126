// Qt's own parts of the window in the user's language: the file chooser, the edit
// menus and the standard buttons come from the translations installed with Qt, and
// the chooser's columns are wide enough for what they show in that language.

#include "UiTestSupport.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QTest>
#include <QTreeView>

using namespace morvane;
using namespace morvane::uitest;

TEST(QtTexts, ComeInTheUsersLanguageWhereQtHasATranslation) {
    // No translation for it: Qt's English stays.
    EXPECT_FALSE(installQtTranslations(QLocale(QLocale::Swahili)));
    EXPECT_EQ(QCoreApplication::translate("QLineEdit", "&Undo"), QStringLiteral("&Undo"));

    // scripts/setup installs Debian's qt6-translations-l10n.
    ASSERT_TRUE(installQtTranslations(QLocale(QLocale::Japanese, QLocale::Japan)));
    EXPECT_NE(QCoreApplication::translate("QLineEdit", "&Undo"), QStringLiteral("&Undo"));
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
    EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

TEST(FileChooser, ShowsItsSizeTypeAndDateColumnsWhole) {
    installQtTranslations(QLocale(QLocale::Japanese, QLocale::Japan));
    QTemporaryDir dir;
    std::ofstream(dir.filePath(QStringLiteral("field.dat")).toStdString(), std::ios::binary)
        << std::string(33 * 1024 + 500, 'V');
    QFileDialog dialog(nullptr, QStringLiteral("chooser"), dir.path());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setViewMode(QFileDialog::Detail);
    dialog.show();
    auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_NE(details, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return details->model()->rowCount(details->rootIndex()) == 1; }, 10000));
    QTest::qWait(50);
    for (int column = 1; column < details->header()->count(); ++column) {
        if (details->header()->isSectionHidden(column))
            continue;
        const QModelIndex cell = details->model()->index(0, column, details->rootIndex());
        EXPECT_GE(details->header()->sectionSize(column), details->sizeHintForIndex(cell).width())
            << "column " << column << ": " << cell.data().toString().toStdString();
    }
}
