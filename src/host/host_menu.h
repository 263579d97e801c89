// The host's menu as the driver's AttachMenu sees it, for the length of one AttachMenu call:
// each host item the driver touches is wrapped in a MenuItem that calls the host's table with
// the build's convention and turns captions from the host's CP1251 into the driver's UTF-8 and
// back. The click handler the driver installs reaches the host as an Object Pascal method
// pointer (TNotifyEvent): code plus data, called with the data in EAX and the sender in EDX.
//
// An exception raised by the host's menu code is thrown on as HostRaised; the slot raises it
// again, unchanged, once the driver's frames are cleaned up.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "dorv5000/menu.h"

namespace dorv::host {

class HostMenuItem;

class HostMenu {
public:
    HostMenu(void* hostMenu, void* hostFactory);
    ~HostMenu();
    MenuItem* Root();
    MenuItemFactory* Factory();

    HostMenuItem* Wrap(void* hostItem);

private:
    class ItemFactory;
    void* const hostMenu_;
    void* const hostFactory_;
    std::deque<HostMenuItem> items_;
    std::unique_ptr<MenuItemFactory> factory_;
};

// A click that arrives after the driver object the item was bound to is gone still opens the
// window for the module's current driver; the gone driver is no longer handed to the click.
void ForgetClicksOf(void* driver);

}  // namespace dorv::host
