#include "ui/SysCtrls.h"

#include "ui/Platform.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace morvane {

namespace {
// Identifiers of the icons of this process; the first icon gets 1.
int32_t NextIconId = 0;
} // namespace

TIconTray::TIconTray(QObject* owner, TrayShell& shell, bool designMode)
    : QObject(owner), shell_(shell), designMode_(designMode) {
    iconId_ = ++NextIconId;
    if (!designMode_)
        messageWindow_ = shell_.createMessageWindow([this](uint32_t message, uintptr_t wParam, intptr_t lParam) {
            return TrayWindowProc(message, wParam, lParam);
        });
}

TIconTray::~TIconTray() {
    try {
        UpdateIcon(false);
    } catch (const EIconTrayError&) {
        // A destructor cannot report; the shell drops the icon with the program anyway.
    }
    if (messageWindow_ != 0)
        shell_.destroyMessageWindow(messageWindow_);
}

void TIconTray::setIcon(const QIcon& icon) {
    icon_ = icon;
    UpdateIcon(true);
}

void TIconTray::setHint(const std::string& hint) {
    if (hint == hint_)
        return;
    // Cut by bytes: a double-byte character split at byte 63 stays split.
    hint_ = hint.substr(0, tray::TipBytes);
    UpdateIcon(true);
}

void TIconTray::setShowHint(bool show) {
    if (show == showHint_)
        return;
    showHint_ = show;
    UpdateIcon(true);
}

void TIconTray::watchMenu(QMenu* menu) {
    if (menu)
        connect(menu, &QObject::destroyed, this, &TIconTray::MenuRemoved, Qt::UniqueConnection);
}

void TIconTray::setRBtnPopupMenu(QMenu* menu) {
    rBtnPopupMenu_ = menu;
    watchMenu(menu);
}

void TIconTray::setLBtnPopupMenu(QMenu* menu) {
    lBtnPopupMenu_ = menu;
    watchMenu(menu);
}

void TIconTray::MenuRemoved(QObject* component) {
    if (rBtnPopupMenu_ == component)
        rBtnPopupMenu_ = nullptr;
    if (lBtnPopupMenu_ == component)
        lBtnPopupMenu_ = nullptr;
}

void TIconTray::AfterLoad() {
    loading_ = false;
    if (designMode_)
        return;
    if (hideMainForm_)
        if (auto* window = qobject_cast<QWidget*>(parent()))
            window->hide();
    UpdateIcon(true);
}

void TIconTray::UpdateIcon(bool show) {
    if (designMode_ || loading_)
        return;
    if (show && icon_.isNull())
        show = false;
    bool ok = true;
    if (show) {
        notifyData_.size = 88;
        notifyData_.window = messageWindow_;
        notifyData_.id = iconId_;
        notifyData_.flags = tray::FlagMessage | tray::FlagIcon | tray::FlagTip;
        notifyData_.callbackMessage = tray::CallbackMessage;
        notifyData_.icon = icon_;
        notifyData_.tip = showHint_ ? hint_.substr(0, tray::TipBytes) : std::string();
        ok = shell_.notify(registered_ ? TrayCommand::Modify : TrayCommand::Add, notifyData_);
    } else if (registered_) {
        ok = shell_.notify(TrayCommand::Delete, notifyData_);
    }
    if (!ok)
        throw EIconTrayError();
    registered_ = show;
}

intptr_t TIconTray::TrayWindowProc(uint32_t message, uintptr_t, intptr_t lParam) {
    if (message != tray::CallbackMessage)
        return 0;
    const QPoint point = shell_.cursorPos();
    const TShiftState shift = shell_.keyState();
    switch (static_cast<uint32_t>(lParam)) {
    case tray::MouseMove:
        DoMouseMove(shift, point);
        break;
    case tray::LButtonDown:
        DoMouseDown(TMouseButton::Left, shift, point);
        break;
    case tray::LButtonUp:
        DoClick();
        DoMouseUp(TMouseButton::Left, shift, point);
        PopupAt(point, lBtnPopupMenu_);
        break;
    case tray::LButtonDblClk:
        DoDblClick();
        DoMouseDown(TMouseButton::Left, shift | ssDouble, point);
        break;
    case tray::RButtonDown:
        DoMouseDown(TMouseButton::Right, shift, point);
        break;
    case tray::RButtonUp:
        DoMouseUp(TMouseButton::Right, shift, point);
        PopupAt(point, rBtnPopupMenu_);
        break;
    case tray::RButtonDblClk:
        DoMouseDown(TMouseButton::Right, shift | ssDouble, point);
        break;
    case tray::MButtonDown:
        DoMouseDown(TMouseButton::Middle, shift, point);
        break;
    case tray::MButtonUp:
        DoMouseUp(TMouseButton::Middle, shift, point);
        break;
    case tray::MButtonDblClk:
        DoMouseDown(TMouseButton::Middle, shift | ssDouble, point);
        break;
    default:
        break;
    }
    return 0;
}

void TIconTray::PopupAt(QPoint point, QMenu* menu) {
    if (designMode_ || !menu)
        return;
    // An open drop-down list of the owner would otherwise keep the mouse.
    if (qobject_cast<QWidget*>(parent()))
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    menu->popup(point);
}

void TIconTray::DoClick() {
    if (OnClick)
        OnClick(this);
}

void TIconTray::DoDblClick() {
    if (OnDblClick)
        OnDblClick(this);
}

void TIconTray::DoMouseDown(TMouseButton button, TShiftState shift, QPoint point) {
    if (OnMouseDown)
        OnMouseDown(this, button, shift, point.x(), point.y());
}

void TIconTray::DoMouseUp(TMouseButton button, TShiftState shift, QPoint point) {
    if (OnMouseUp)
        OnMouseUp(this, button, shift, point.x(), point.y());
}

void TIconTray::DoMouseMove(TShiftState shift, QPoint point) {
    if (OnMouseMove)
        OnMouseMove(this, shift, point.x(), point.y());
}

QtTrayShell::QtTrayShell()
    : trayAvailable([] { return QSystemTrayIcon::isSystemTrayAvailable(); }), trayWatch_(new QTimer(this)) {
    // Nothing tells a program that a panel has started: it is looked for.
    trayWatch_->setInterval(3000);
    connect(trayWatch_, &QTimer::timeout, this, &QtTrayShell::showWaitingIcons);
}

void QtTrayShell::showWaitingIcons() {
    if (!trayAvailable())
        return;
    trayWatch_->stop();
    for (auto& entry : icons_)
        if (!entry.second->isVisible())
            entry.second->show();
}

bool QtTrayShell::shown(int32_t window, int32_t id) const {
    const auto found = icons_.find(Key{window, id});
    return found != icons_.end() && found->second->isVisible();
}
QtTrayShell::~QtTrayShell() = default;

void QtTrayShell::apply(QSystemTrayIcon& icon, const NotifyIconData& data) {
    if (data.flags & tray::FlagIcon)
        icon.setIcon(data.icon);
    if (data.flags & tray::FlagTip)
        icon.setToolTip(fromCp932(data.tip));
}

bool QtTrayShell::notify(TrayCommand command, const NotifyIconData& data) {
    const Key key{data.window, data.id};
    auto found = icons_.find(key);
    switch (command) {
    case TrayCommand::Add: {
        if (found != icons_.end() || !windows_.count(data.window))
            return false;
        auto icon = std::make_unique<QSystemTrayIcon>();
        apply(*icon, data);
        if (data.flags & tray::FlagMessage) {
            const int32_t window = data.window;
            const uint32_t message = data.callbackMessage;
            connect(icon.get(), &QSystemTrayIcon::activated, this,
                    [this, window, message](QSystemTrayIcon::ActivationReason reason) {
                        switch (reason) {
                        case QSystemTrayIcon::Trigger:
                            post(window, message, {tray::LButtonDown, tray::LButtonUp});
                            break;
                        case QSystemTrayIcon::DoubleClick:
                            post(window, message, {tray::LButtonDblClk});
                            break;
                        case QSystemTrayIcon::Context:
                            post(window, message, {tray::RButtonDown, tray::RButtonUp});
                            break;
                        case QSystemTrayIcon::MiddleClick:
                            post(window, message, {tray::MButtonDown, tray::MButtonUp});
                            break;
                        default:
                            break;
                        }
                    });
        }
        // Without a notification area the icon is kept, and shown once one appears.
        if (trayAvailable())
            icon->show();
        else
            trayWatch_->start();
        icons_.emplace(key, std::move(icon));
        return true;
    }
    case TrayCommand::Modify:
        if (found == icons_.end())
            return false;
        apply(*found->second, data);
        return true;
    case TrayCommand::Delete:
        if (found == icons_.end())
            return false;
        icons_.erase(found);
        return true;
    }
    return false;
}

void QtTrayShell::post(int32_t window, uint32_t callbackMessage, std::initializer_list<uint32_t> mouseMessages) {
    for (uint32_t mouse : mouseMessages) {
        auto proc = windows_.find(window);
        if (proc == windows_.end())
            return;
        // A copy: the handler may end the program and destroy the window.
        TrayShell::WindowProc call = proc->second;
        call(callbackMessage, 0, static_cast<intptr_t>(mouse));
    }
}

int32_t QtTrayShell::createMessageWindow(WindowProc proc) {
    const int32_t window = nextWindow_++;
    windows_.emplace(window, std::move(proc));
    return window;
}

void QtTrayShell::destroyMessageWindow(int32_t window) {
    windows_.erase(window);
    for (auto it = icons_.begin(); it != icons_.end();)
        it = it->first.window == window ? icons_.erase(it) : std::next(it);
}

QPoint QtTrayShell::cursorPos() const {
    return QCursor::pos();
}

TShiftState QtTrayShell::keyState() const {
    TShiftState state = 0;
    const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
    const Qt::MouseButtons buttons = QGuiApplication::mouseButtons();
    if (keys & Qt::ShiftModifier)
        state |= ssShift;
    if (keys & Qt::ControlModifier)
        state |= ssCtrl;
    if (keys & Qt::AltModifier)
        state |= ssAlt;
    if (buttons & Qt::LeftButton)
        state |= ssLeft;
    if (buttons & Qt::RightButton)
        state |= ssRight;
    if (buttons & Qt::MiddleButton)
        state |= ssMiddle;
    return state;
}

} // namespace morvane
