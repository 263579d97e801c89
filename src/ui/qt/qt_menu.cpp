#include "qt_menu.h"

#include <QMenu>

namespace dorv::ui::qt {

QtMenuItem::QtMenuItem(QMenuBar* bar) : bar_(bar) {}
QtMenuItem::QtMenuItem(QAction* action) : action_(action) {}

QtMenuItem::~QtMenuItem() { QObject::disconnect(click_); }

QList<QAction*> QtMenuItem::Children() const {
    if (bar_) return bar_->actions();
    if (action_ && action_->menu()) return action_->menu()->actions();
    return {};
}

QtMenuItem* QtMenuItem::AdapterOf(QAction* action) {
    auto& adapter = children_[action];
    if (!adapter) adapter = std::make_unique<QtMenuItem>(action);
    return adapter.get();
}

std::int32_t QtMenuItem::GetCount() { return static_cast<std::int32_t>(Children().size()); }

MenuItem* QtMenuItem::GetItem(std::int32_t index) {
    const QList<QAction*> children = Children();
    if (index < 0 || index >= children.size()) return nullptr;
    return AdapterOf(children[index]);
}

const char* QtMenuItem::GetCaption() {
    caption_ = action_ ? action_->text().toUtf8().toStdString() : std::string();
    return caption_.c_str();
}

void QtMenuItem::SetCaption(const char* caption) {
    if (action_) action_->setText(QString::fromUtf8(caption ? caption : ""));
}

void QtMenuItem::SetHint(const char* hint) {
    if (!action_) return;
    const QString text = QString::fromUtf8(hint ? hint : "");
    action_->setStatusTip(text);
    action_->setToolTip(text);
}

// Qt has no help contexts; the number stays with the action for a host that wants it.
void QtMenuItem::SetHelpContext(std::int32_t context) {
    if (action_) action_->setProperty("helpContext", context);
}

void QtMenuItem::SetShortCut(std::int32_t shortcut) {
    if (action_) action_->setShortcut(ShortCutToKeySequence(shortcut));
}

void QtMenuItem::SetOnClick(MenuClickHandler handler, void* data) {
    QObject::disconnect(click_);
    if (!action_ || !handler) return;
    click_ = QObject::connect(action_, &QAction::triggered, action_, [this, handler, data] { handler(data, this); });
}

QtMenuItem* QtMenuItem::AddChild(std::int32_t index) {
    QAction* action = nullptr;
    if (bar_) {
        action = new QAction(bar_);
        const QList<QAction*> items = bar_->actions();
        bar_->insertAction(index >= 0 && index < items.size() ? items[index] : nullptr, action);
    } else if (action_) {
        QMenu* menu = action_->menu();
        if (!menu) {
            // An item that gets an item of its own becomes a submenu.
            menu = new QMenu(action_->text(), qobject_cast<QWidget*>(action_->parent()));
            action_->setMenu(menu);
        }
        action = new QAction(menu);
        const QList<QAction*> items = menu->actions();
        menu->insertAction(index >= 0 && index < items.size() ? items[index] : nullptr, action);
    }
    return action ? AdapterOf(action) : nullptr;
}

MenuItem* QtMenuItemFactory::CreateItem(MenuItem* parent, std::int32_t index) {
    auto* item = dynamic_cast<QtMenuItem*>(parent);
    return item ? item->AddChild(index) : nullptr;
}

QKeySequence ShortCutToKeySequence(std::int32_t shortcut) {
    if (shortcut == 0) return {};
    const int vk = shortcut & 0xFF;
    int key = 0;
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
        key = vk;  // Qt::Key_0.., Qt::Key_A..
    else if (vk >= 0x70 && vk <= 0x87)
        key = Qt::Key_F1 + (vk - 0x70);
    else if (vk == 0x1B)
        key = Qt::Key_Escape;
    else if (vk == 0x0D)
        key = Qt::Key_Return;
    else if (vk == 0x2E)
        key = Qt::Key_Delete;
    else if (vk == 0x2D)
        key = Qt::Key_Insert;
    else
        return {};
    int modifiers = 0;
    if (shortcut & 0x2000) modifiers |= Qt::SHIFT;
    if (shortcut & 0x4000) modifiers |= Qt::CTRL;
    if (shortcut & 0x8000) modifiers |= Qt::ALT;
    return QKeySequence(key | modifiers);
}

}  // namespace dorv::ui::qt
