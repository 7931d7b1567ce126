#pragma once
// TIconTray: one icon with a tool tip in the desktop's notification area, the mouse
// actions on it forwarded as events, and a popup menu for the left and the right
// button. The component only hands records and commands to a TrayShell and reads the
// shell's answers and callback messages; what the notification area does with them
// is the shell's business.

#include "common/Errors.h"

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace morvane {

class TIconTray;

// Mouse messages of the notification area, as the shell reports them.
namespace tray {
inline constexpr uint32_t CallbackMessage = 0x400;
inline constexpr uint32_t MouseMove = 0x200;
inline constexpr uint32_t LButtonDown = 0x201;
inline constexpr uint32_t LButtonUp = 0x202;
inline constexpr uint32_t LButtonDblClk = 0x203;
inline constexpr uint32_t RButtonDown = 0x204;
inline constexpr uint32_t RButtonUp = 0x205;
inline constexpr uint32_t RButtonDblClk = 0x206;
inline constexpr uint32_t MButtonDown = 0x207;
inline constexpr uint32_t MButtonUp = 0x208;
inline constexpr uint32_t MButtonDblClk = 0x209;

inline constexpr uint32_t FlagMessage = 1;
inline constexpr uint32_t FlagIcon = 2;
inline constexpr uint32_t FlagTip = 4;
inline constexpr size_t TipBytes = 63;
} // namespace tray

enum class TMouseButton { Left, Right, Middle };

// The shift state: keys and buttons held, and whether the message was a double click.
using TShiftState = uint8_t;
inline constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64;

// The record handed to the shell with every command.
struct NotifyIconData {
    uint32_t size = 88;
    int32_t window = 0; // the component's message window
    int32_t id = 0;
    uint32_t flags = 0;
    uint32_t callbackMessage = 0;
    QIcon icon;
    std::string tip; // at most 63 bytes, code page 932
};

enum class TrayCommand { Add, Modify, Delete };

// The notification area. notify() answers true for success. A message window
// receives the callback messages of the icons registered with it.
class TrayShell {
public:
    using WindowProc = std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

    virtual ~TrayShell() = default;
    virtual bool notify(TrayCommand command, const NotifyIconData& data) = 0;
    virtual int32_t createMessageWindow(WindowProc proc) = 0;
    virtual void destroyMessageWindow(int32_t window) = 0;
    // The cursor in screen coordinates and the keys and buttons held right now.
    virtual QPoint cursorPos() const = 0;
    virtual TShiftState keyState() const = 0;
};

class EIconTrayError : public MorvaneError {
public:
    EIconTrayError() : MorvaneError("Registration Error") {}
};

class TIconTray : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject* sender)>;
    using TMouseEvent = std::function<void(QObject* sender, TMouseButton, TShiftState, int x, int y)>;
    using TMouseMoveEvent = std::function<void(QObject* sender, TShiftState, int x, int y)>;

    TIconTray(QObject* owner, TrayShell& shell, bool designMode = false);
    ~TIconTray() override;

    // Published properties.
    const QIcon& Icon() const { return icon_; }
    void setIcon(const QIcon& icon);
    bool HideMainForm() const { return hideMainForm_; }
    void setHideMainForm(bool hide) { hideMainForm_ = hide; }
    const std::string& Hint() const { return hint_; }
    void setHint(const std::string& hint);
    QMenu* RBtnPopupMenu() const { return rBtnPopupMenu_; }
    void setRBtnPopupMenu(QMenu* menu);
    QMenu* LBtnPopupMenu() const { return lBtnPopupMenu_; }
    void setLBtnPopupMenu(QMenu* menu);
    bool ShowHint() const { return showHint_; }
    void setShowHint(bool show);

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

    int32_t IconId() const { return iconId_; }
    bool Registered() const { return registered_; }
    const NotifyIconData& NotifyData() const { return notifyData_; }
    int32_t MessageWindow() const { return messageWindow_; }

    // Once, after the owner has set the properties: adds the icon. Until then the
    // component is loading, and its property changes only store their values.
    void AfterLoad();
    // Adds, changes or removes the icon; throws EIconTrayError when the shell refuses.
    void UpdateIcon(bool show);
    intptr_t TrayWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);
    void PopupAt(QPoint point, QMenu* menu);

private:
    void MenuRemoved(QObject* component);
    void watchMenu(QMenu* menu);
    void DoClick();
    void DoDblClick();
    void DoMouseDown(TMouseButton button, TShiftState shift, QPoint point);
    void DoMouseUp(TMouseButton button, TShiftState shift, QPoint point);
    void DoMouseMove(TShiftState shift, QPoint point);

    TrayShell& shell_;
    bool designMode_;
    bool loading_ = true;
    QIcon icon_;
    int32_t iconId_ = 0;
    bool hideMainForm_ = false;
    std::string hint_;
    QMenu* rBtnPopupMenu_ = nullptr;
    QMenu* lBtnPopupMenu_ = nullptr;
    bool showHint_ = true;
    int32_t messageWindow_ = 0;
    bool registered_ = false;
    NotifyIconData notifyData_;
};

// The notification area of a Qt desktop. Adding an icon twice, or changing or
// removing one that was never added, is refused. A desktop without a notification
// area accepts the icon and does not show it yet: the program must still start, and
// the icon appears once a notification area does (a panel started after the program).
class QtTrayShell : public QObject, public TrayShell {
    Q_OBJECT
public:
    QtTrayShell();
    ~QtTrayShell() override;

    // Whether the desktop has a notification area now.
    std::function<bool()> trayAvailable;
    // Looks for a notification area every few seconds while an icon waits for one.
    QTimer* trayWatch() const { return trayWatch_; }
    // Whether an icon is in the notification area.
    bool shown(int32_t window, int32_t id) const;

    bool notify(TrayCommand command, const NotifyIconData& data) override;
    int32_t createMessageWindow(WindowProc proc) override;
    void destroyMessageWindow(int32_t window) override;
    QPoint cursorPos() const override;
    TShiftState keyState() const override;

private:
    struct Key {
        int32_t window;
        int32_t id;
        bool operator<(const Key& o) const { return window != o.window ? window < o.window : id < o.id; }
    };
    void apply(QSystemTrayIcon& icon, const NotifyIconData& data);
    void post(int32_t window, uint32_t callbackMessage, std::initializer_list<uint32_t> mouseMessages);
    void showWaitingIcons();

    std::map<Key, std::unique_ptr<QSystemTrayIcon>> icons_;
    std::map<int32_t, WindowProc> windows_;
    int32_t nextWindow_ = 1;
    QTimer* trayWatch_;
};

} // namespace morvane
