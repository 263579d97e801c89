// The host's menu as the driver's AttachMenu sees it, over Qt: QtMenuItem stands for a menu bar
// (the owner of the top-level items) or for one action (a top-level menu's action, or an item
// under it); QtMenuItemFactory adds a new action under a given item. Captions cross as UTF-8
// with the "&" of the accelerator kept, so "&ТРК" compares as the driver expects.
//
// Ownership: an item owns the adapters of the items found under it (GetItem) and of the items
// the factory adds under it, so the adapter of the menu bar owns the whole tree; the host keeps
// it as long as the menu lives. Thread safety: the user-interface thread only.
#pragma once

#include <QAction>
#include <QMenuBar>
#include <QPointer>

#include <map>
#include <memory>
#include <string>

#include "dorv5000/menu.h"

namespace dorv::ui::qt {

class QtMenuItem final : public MenuItem {
public:
    explicit QtMenuItem(QMenuBar* bar);
    explicit QtMenuItem(QAction* action);
    ~QtMenuItem() override;

    std::int32_t DORV_CALL GetCount() override;
    MenuItem* DORV_CALL GetItem(std::int32_t index) override;
    const char* DORV_CALL GetCaption() override;
    void DORV_CALL SetCaption(const char* caption) override;
    void DORV_CALL SetHint(const char* hint) override;
    void DORV_CALL SetHelpContext(std::int32_t context) override;
    void DORV_CALL SetShortCut(std::int32_t shortcut) override;
    void DORV_CALL SetOnClick(MenuClickHandler handler, void* data) override;

    QAction* Action() const { return action_; }
    QMenuBar* Bar() const { return bar_; }
    // Adds a new action under this item (index -1: at the end) and returns its adapter; null
    // when this item is gone.
    QtMenuItem* AddChild(std::int32_t index);

private:
    QList<QAction*> Children() const;
    QtMenuItem* AdapterOf(QAction* action);

    QPointer<QMenuBar> bar_;
    QPointer<QAction> action_;
    std::string caption_;
    QMetaObject::Connection click_;
    std::map<QAction*, std::unique_ptr<QtMenuItem>> children_;
};

class QtMenuItemFactory final : public MenuItemFactory {
public:
    // `parent` must be a QtMenuItem; anything else gets nothing.
    MenuItem* DORV_CALL CreateItem(MenuItem* parent, std::int32_t index) override;
};

// The key sequence of a shortcut in the stations' encoding (virtual-key code in the low byte,
// 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt); 0 is none.
QKeySequence ShortCutToKeySequence(std::int32_t shortcut);

}  // namespace dorv::ui::qt
