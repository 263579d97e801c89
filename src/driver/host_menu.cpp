#include <cstring>

#include "messages.h"
#include "module.h"
#include "tvm30.h"

namespace dorv {

namespace {

// The item outlives the driver that added it: a click opens the window for the module's current
// driver, and only the bound driver's own follow-up needs that driver still alive.
void DORV_CALL ParamMenuClickHandler(void* data, MenuItem*) { TVM30::ParamMenuClick(static_cast<TVM30*>(data)); }

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

void TVM30::ParamMenuClick(TVM30* bound) {
    module::OpenParamWindow(module::DriverInstance());
    // The bound driver may be gone: destroyed before the click or while the window showed.
    module::IfAlive(bound, [](TVM30& driver) {
        for (int line = 1; line < kLines; ++line)
            for (int column = 1; column <= 32; ++column) driver.SetDecimalsPending(line, column, true);
    });
}

std::uint16_t TVM30::GetStatusCode(std::uint8_t line, std::uint8_t column) { return GetStatus(line, column, 0).bytes[0]; }

}  // namespace dorv
