#include "ui/Platform.h"

#include "common/Codec.h"
#include "common/Errors.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QUrl>

namespace morvane {

QString fromCp932(std::string_view bytes) {
    return QString::fromStdString(cp932ToUtf8(bytes));
}

QFont programFont(int pixelSize) {
    // Fontconfig would stand any sans font in for a family it lacks; IPAPGothic is the
    // one drawn to the same metrics.
    static const QString family = QFontDatabase::families().contains(QStringLiteral("ＭＳ Ｐゴシック"))
                                      ? QStringLiteral("ＭＳ Ｐゴシック")
                                      : QStringLiteral("IPAPGothic");
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

QIcon applicationIcon() {
    // Drawn apart for the small sizes, where the large drawing would blur.
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    return icon;
}

void showError(MessageBoxes& messages, const std::exception& error) {
    if (const auto* e = dynamic_cast<const MorvaneError*>(&error)) {
        // "ﾌｧｲﾙが見つかりません" alone does not say which file.
        messages.error(fromCp932(e->message()), QString::fromStdString(e->where()));
        return;
    }
    // Failures from outside the program's own code (memory, the file system library)
    // have no code page 932 text of their own.
    messages.error(QString::fromLocal8Bit(error.what()), QString());
}

QString errorText(const std::exception& error) {
    if (const auto* e = dynamic_cast<const MorvaneError*>(&error))
        return e->where().empty() ? fromCp932(e->message())
                                  : QString::fromStdString(e->where()) + QStringLiteral(": ") + fromCp932(e->message());
    return QString::fromLocal8Bit(error.what());
}

QString errorText(const std::exception_ptr& error) {
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return errorText(e);
    } catch (...) {
        return QStringLiteral("?");
    }
}

void runHandler(MessageBoxes& messages, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        showError(messages, e);
    }
}

void QtMessageBoxes::error(const QString& text, const QString& location) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    // Shown as they are: a column text or a path is not to be read as markup.
    box.setTextFormat(Qt::PlainText);
    if (!location.isEmpty()) {
        box.setInformativeText(location);
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            label->setTextFormat(Qt::PlainText);
    }
    box.exec();
}

void QtMessageBoxes::information(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

bool QtDocumentOpener::open(const std::filesystem::path& absolutePath) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(absolutePath.c_str())));
}

std::optional<FixedVersion> CompiledVersionBlock::read() const {
    return FixedVersion{(uint32_t{MORVANE_VERSION_MAJOR} << 16) | uint32_t{MORVANE_VERSION_MINOR},
                        (uint32_t{MORVANE_VERSION_PATCH} << 16) | uint32_t{MORVANE_VERSION_TWEAK}};
}

} // namespace morvane
