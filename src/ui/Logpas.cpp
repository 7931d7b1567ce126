#include "ui/Logpas.h"

#include "ui/Platform.h"

#include <QListWidget>
#include <QPlainTextEdit>

namespace morvane {

namespace {
const char* const ChangeHistory = "更新情報\n"
                                  "2026/12/07\n"
                                  "Version 0.0.0.5\n"
                                  "・通知領域のない環境でも起動できるようにしました\n"
                                  "・カードが選ばれていないときは戦闘を始めないようにしました\n"
                                  "・デッキリストの記録に失敗しても前のファイルが残るようにしました\n"
                                  "\n"
                                  "今現在の問題点\n"
                                  "・デッキの大きさは表示するだけで、制限していません\n"
                                  "・デッキリストの行は消せません\n";
} // namespace

TLog::TLog(QWidget* parent) : QWidget(parent, Qt::Tool) {
    setObjectName(QStringLiteral("Log"));
    setWindowTitle(QStringLiteral("Log"));
    setFont(programFont());
    // Client area of the 539 x 372 outer size with a sizeable frame.
    resize(531, 345);
    move(168, 178);

    Log1 = new QListWidget(this);
    Log1->setObjectName(QStringLiteral("Log1"));

    updataLog = new QPlainTextEdit(this);
    updataLog->setObjectName(QStringLiteral("updataLog"));
    updataLog->setGeometry(176, 0, 353, 185);
    updataLog->setPlainText(QString::fromUtf8(ChangeHistory));

    Memo2 = new QPlainTextEdit(this);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setGeometry(176, 184, 353, 161);
    Memo2->setPlainText(QStringLiteral("Memo2"));

    Log1->setGeometry(0, 0, 177, height());
}

void TLog::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The list keeps to the left edge at full height.
    Log1->setGeometry(0, 0, 177, height());
}

} // namespace morvane
