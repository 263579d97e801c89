// The host's menu as AttachMenu sees it: the driver looks for the "&ТРК" item among the
// items of the menu it is given and asks the host's factory for a new item under it.
// Called on the host's user-interface thread only.
#pragma once

#include <cstdint>

#include "abi.h"

namespace dorv {

class MenuItem;

// A click handler bound to an object: code plus the object as data.
using MenuClickHandler = void(DORV_CALL*)(void* data, MenuItem* sender);

class DORV_SHARED MenuItem {
public:
    virtual std::int32_t DORV_CALL GetCount() = 0;
    virtual MenuItem* DORV_CALL GetItem(std::int32_t index) = 0;
    // Captions and hints are UTF-8 here (the platform's 8-bit code page on Windows).
    virtual const char* DORV_CALL GetCaption() = 0;
    virtual void DORV_CALL SetCaption(const char* caption) = 0;
    virtual void DORV_CALL SetHint(const char* hint) = 0;
    virtual void DORV_CALL SetHelpContext(std::int32_t context) = 0;
    virtual void DORV_CALL SetShortCut(std::int32_t shortcut) = 0;
    virtual void DORV_CALL SetOnClick(MenuClickHandler handler, void* data) = 0;
    virtual ~MenuItem() = default;
};

// Creates a new item that the host places under `parent` (index -1: at the end).
class DORV_SHARED MenuItemFactory {
public:
    virtual MenuItem* DORV_CALL CreateItem(MenuItem* parent, std::int32_t index) = 0;
    virtual ~MenuItemFactory() = default;
};

}  // namespace dorv
