#include "host/host_menu.h"

#include <atomic>

#include "host/calls.h"
#include "host/guard.h"
#include "host/shield.h"
#include "platform/cp1251.h"

namespace dorv::host {

namespace {

enum : int {
    kGetCount = 0,
    kGetItem = 1,
    kGetCaption = 2,
    kSetCaption = 3,
    kSetHint = 4,
    kSetHelpContext = 5,
    kSetShortCut = 6,
    kSetOnClick = 7,
};
enum : int { kCreateItem = 0 };

using GetCountFn = std::int32_t(DORV_HOST_CALL*)(void*);
using GetItemFn = void*(DORV_HOST_CALL*)(void*, std::int32_t);
using GetTextFn = const char*(DORV_HOST_CALL*)(void*);
using SetTextFn = void(DORV_HOST_CALL*)(void*, const char*);
using SetNumberFn = void(DORV_HOST_CALL*)(void*, std::int32_t);
using SetOnClickFn = void(DORV_HOST_CALL*)(void*, void* code, void* data);
using CreateItemFn = void*(DORV_HOST_CALL*)(void*, void* parent, std::int32_t index);

// The item is added once per loaded library, so one binding serves every click.
struct ClickBinding {
    std::atomic<MenuClickHandler> handler{nullptr};
    std::atomic<void*> data{nullptr};
};
ClickBinding g_click;

// OnClick of the host's item: a TNotifyEvent, data in EAX, sender in EDX, whatever the build.
// The handler the driver installed gets no sender: it has no use for one.
void DORV_PASCAL_REGISTER ClickEntry(ClickBinding* binding, void*) {
    Guarded([&] {
        if (const MenuClickHandler handler = binding->handler) handler(binding->data, nullptr);
    });
}

template <class Call>
void Host(Call&& call) {
    ShieldedOrThrow(call);
}

}  // namespace

class HostMenuItem final : public MenuItem {
public:
    HostMenuItem(HostMenu& menu, void* host) : menu_(menu), host_(host) {}
    void* Host() const { return host_; }

    std::int32_t DORV_CALL GetCount() override {
        std::int32_t count = 0;
        host::Host([&] { count = Slot<GetCountFn>(host_, kGetCount)(host_); });
        return count;
    }
    MenuItem* DORV_CALL GetItem(std::int32_t index) override {
        void* item = nullptr;
        host::Host([&] { item = Slot<GetItemFn>(host_, kGetItem)(host_, index); });
        return item ? menu_.Wrap(item) : nullptr;
    }
    const char* DORV_CALL GetCaption() override {
        const char* caption = nullptr;
        host::Host([&] { caption = Slot<GetTextFn>(host_, kGetCaption)(host_); });
        if (!caption) return nullptr;
        caption_ = platform::Cp1251ToUtf8(caption);
        return caption_.c_str();
    }
    void DORV_CALL SetCaption(const char* caption) override { SetText(kSetCaption, caption); }
    void DORV_CALL SetHint(const char* hint) override { SetText(kSetHint, hint); }
    void DORV_CALL SetHelpContext(std::int32_t context) override { SetNumber(kSetHelpContext, context); }
    void DORV_CALL SetShortCut(std::int32_t shortcut) override { SetNumber(kSetShortCut, shortcut); }
    void DORV_CALL SetOnClick(MenuClickHandler handler, void* data) override {
        g_click.handler = handler;
        g_click.data = data;
        host::Host([&] { Slot<SetOnClickFn>(host_, kSetOnClick)(host_, reinterpret_cast<void*>(&ClickEntry), &g_click); });
    }

private:
    void SetText(int index, const char* utf8) {
        const std::string text = platform::Utf8ToCp1251(utf8 ? utf8 : "");
        host::Host([&] { Slot<SetTextFn>(host_, index)(host_, text.c_str()); });
    }
    void SetNumber(int index, std::int32_t value) {
        host::Host([&] { Slot<SetNumberFn>(host_, index)(host_, value); });
    }

    HostMenu& menu_;
    void* const host_;
    std::string caption_;
};

class HostMenu::ItemFactory final : public MenuItemFactory {
public:
    explicit ItemFactory(HostMenu& menu) : menu_(menu) {}
    MenuItem* DORV_CALL CreateItem(MenuItem* parent, std::int32_t index) override {
        void* const hostParent = parent ? static_cast<HostMenuItem*>(parent)->Host() : nullptr;
        void* item = nullptr;
        host::Host([&] { item = Slot<CreateItemFn>(menu_.hostFactory_, kCreateItem)(menu_.hostFactory_, hostParent, index); });
        return item ? menu_.Wrap(item) : nullptr;
    }

private:
    HostMenu& menu_;
};

HostMenu::HostMenu(void* hostMenu, void* hostFactory)
    : hostMenu_(hostMenu), hostFactory_(hostFactory), factory_(std::make_unique<ItemFactory>(*this)) {}

HostMenu::~HostMenu() = default;

MenuItem* HostMenu::Root() { return hostMenu_ ? Wrap(hostMenu_) : nullptr; }
MenuItemFactory* HostMenu::Factory() { return hostFactory_ ? factory_.get() : nullptr; }

HostMenuItem* HostMenu::Wrap(void* hostItem) { return &items_.emplace_back(*this, hostItem); }

void ForgetClicksOf(void* driver) {
    void* expected = driver;
    g_click.data.compare_exchange_strong(expected, nullptr);
}

}  // namespace dorv::host
