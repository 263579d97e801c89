// A parameter window over a recording view and a fake transport.
#pragma once

#include <gtest/gtest.h>

#include "fake_transport.h"
#include "recording_view.h"
#include "temp_dir.h"
#include "ui/param_window.h"

namespace dorv::test {

struct WindowTest : ::testing::Test {
    TempDir dir;
    RecordingView view;
    std::shared_ptr<FakeTransport> link = std::make_shared<FakeTransport>();
    std::unique_ptr<TParamFrm> window = std::make_unique<TParamFrm>(view, params::NumberLocale{" ", ","});

    void Show(bool withDriver = true) {
        if (withDriver) window->SetDriver({link, nullptr});
        window->FormShow();
    }
    params::CParameter& Entry(int position) { return window->Catalogue()->GetParameter(position); }
    void SwitchTab(int tab) {
        view.tab = tab;
        window->TabControl1Change();
    }
};

}  // namespace dorv::test
