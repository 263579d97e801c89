#include <cstring>

#include "messages.h"
#include "module.h"
#include "tvm30.h"

namespace dorv {

namespace {

void DORV_CALL ParamMenuClickHandler(void* data, MenuItem*) {
    static_cast<TVM30*>(data)->ParamMenuClick();
}

}  // namespace

void TVM30::AttachMenu(MenuItem* menu, MenuItemFactory* factory) {
    // Only the first call of the library's life searches the menu, whatever it finds.
    if (!module::TakeMenuPending() || !menu || !factory) return;
    const std::int32_t count = menu->GetCount();
    for (std::int32_t i = 0; i < count; ++i) {
        MenuItem* item = menu->GetItem(i);
        const char* caption = item ? item->GetCaption() : nullptr;
        if (!caption || std::strcmp(caption, msg::kDispenserMenu) != 0) continue;
        MenuItem* added = factory->CreateItem(item, -1);
        if (!added) return;
        added->SetCaption(msg::kMenuCaption);
        added->SetHint(msg::kMenuCaption);
        added->SetHelpContext(0);
        added->SetShortCut(0);
        added->SetOnClick(&ParamMenuClickHandler, this);
        return;
    }
}

void TVM30::ParamMenuClick() {
    module::OpenParamWindow(module::DriverInstance());
    // The host may have destroyed this driver while the window was showing.
    module::IfAlive(this, [](TVM30& driver) {
        for (int line = 1; line < kLines; ++line)
            for (int column = 1; column <= 32; ++column) driver.SetDecimalsPending(line, column, true);
    });
}

std::uint16_t TVM30::GetStatusCode(std::uint8_t line, std::uint8_t column) {
    return GetStatus(line, column, 0).bytes[0];
}

}  // namespace dorv
