#include "ui/Platform.h"

#include "common/Codec.h"
#include "common/Errors.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSpacerItem>
#include <QUrl>

#include <cerrno>

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

QString reasonText(const FileReason& reason) {
    switch (reason.kind) {
    case FileReason::None:
        return {};
    case FileReason::Folder:
        return QStringLiteral("フォルダーです");
    case FileReason::Fifo:
        return QStringLiteral("FIFO です。通常のファイルではありません");
    case FileReason::Device:
        return QStringLiteral("デバイスです。通常のファイルではありません");
    case FileReason::NotRegular:
        return QStringLiteral("通常のファイルではありません");
    case FileReason::TooLarge:
        return QStringLiteral("%L1 バイトを超えています").arg(static_cast<qulonglong>(reason.limit));
    case FileReason::ReadOnly:
        return QStringLiteral("書き込みが許可されていません");
    case FileReason::System:
        break;
    }
    switch (reason.error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("アクセスが許可されていません");
    case ENOENT:
        return QStringLiteral("見つかりません");
    case ENOTDIR:
        return QStringLiteral("途中のフォルダーがフォルダーではありません");
    case EISDIR:
        return QStringLiteral("フォルダーです");
    case ENOSPC:
        return QStringLiteral("ディスクに空きがありません");
    case EDQUOT:
        return QStringLiteral("ディスクの使用量の制限を超えています");
    case EFBIG:
        return QStringLiteral("ファイルが大きすぎます");
    case EROFS:
        return QStringLiteral("読み取り専用のファイルシステムです");
    case EIO:
        return QStringLiteral("ディスクの読み書きに失敗しました");
    case ELOOP:
        return QStringLiteral("シンボリックリンクが循環しています");
    case ENAMETOOLONG:
        return QStringLiteral("パスが長すぎます");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("開いているファイルが多すぎます");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("使用中です");
    case ENXIO:
    case ENODEV:
        return QStringLiteral("デバイスがありません");
    default:
        // Rare enough to keep the system's own words, with the number to look up.
        return QStringLiteral("エラー %1: %2").arg(reason.error).arg(QString::fromStdString(englishReason(reason)));
    }
}

QString locationText(const MorvaneError& error) {
    QString location = QString::fromStdString(error.location());
    const QString reason = reasonText(error.reason());
    if (reason.isEmpty())
        return location;
    return location.isEmpty() ? reason : location + QStringLiteral("（") + reason + QStringLiteral("）");
}

void showError(MessageBoxes& messages, const std::exception& error) {
    if (const auto* e = dynamic_cast<const MorvaneError*>(&error)) {
        // "ﾌｧｲﾙが見つかりません" alone does not say which file.
        messages.error(fromCp932(e->message()), locationText(*e));
        return;
    }
    // Failures from outside the program's own code (memory, the file system library)
    // have no code page 932 text of their own.
    messages.error(QString::fromLocal8Bit(error.what()), QString());
}

QString errorText(const std::exception& error) {
    if (const auto* e = dynamic_cast<const MorvaneError*>(&error)) {
        // The reason in Japanese, as the error box gives it.
        const QString location = locationText(*e);
        return QString::fromStdString(placedText(location.toStdString(), fromCp932(e->message()).toStdString()));
    }
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
    // The window manager cuts a caption wider than the box, and two short lines make a
    // narrow box. Its title bar's font is not ours to know: a bold one a fifth wider is
    // allowed for, with room for the bar's icon and buttons.
    const int captionWidth =
        QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(caption) * 6 / 5 + 160;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(captionWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0,
                      1, grid->columnCount());
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
