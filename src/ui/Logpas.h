#pragma once
// TLog: the development window that a non-release build shows beside the main window:
// an empty log list, the change history and a scratch text box. Closing it only
// hides it; the program goes on.

#include <QWidget>

class QListWidget;
class QPlainTextEdit;

namespace morvane {

class TLog : public QWidget {
    Q_OBJECT
public:
    explicit TLog(QWidget* parent = nullptr);

    QListWidget* Log1;
    QPlainTextEdit* updataLog;
    QPlainTextEdit* Memo2;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace morvane
