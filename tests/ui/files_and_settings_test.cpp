#include <filesystem>
#include <fstream>

#include "driver/tvm30.h"
#include "platform/ini_file.h"
#include "recording_link.h"
#include "window_fixture.h"

namespace dorv::test {
namespace {

TEST_F(WindowTest, CopyAndPasteCarryTheNumberedValuesToALaterShowing) {
    Show();
    Entry(15).SetValue(125);
    Entry(1).SetValue(1);  // a common command: never copied
    window->CopyToolClick();
    window->FormClose();
    window->FormShow();
    window->PasteToolClick();
    EXPECT_EQ(std::make_pair(Entry(15).Value(), Entry(1).Value()), std::make_pair(std::int64_t(125), std::int64_t(0)));
    EXPECT_EQ(Entry(15).ReadText(), "");  // loading fills the write column only
    EXPECT_TRUE(std::filesystem::exists(dir.File("Ximor/Settings/Dorv.buf")));
}

TEST_F(WindowTest, FileDialogsStartInTheBufferFolderAndFailuresAreReported) {
    Show();
    window->SaveBtnClick();  // cancelled: nothing happens
    window->LoadBtnClick();
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
    const auto& d = view.fileDialogs;
    EXPECT_EQ(std::make_tuple(d[0].title, d[0].defaultName, d[0].defaultExtension, d[0].initialFolder),
              std::make_tuple("Сохранение файла настроек", "ТРК", "par", dir.File("Ximor/Settings")));
    EXPECT_EQ(std::make_pair(d[1].title, d[1].defaultExtension),
              std::make_pair(std::string("Считать параметры из файла"), std::string("tar")));
    std::ofstream(dir.File("plain")) << "x";
    view.fileName = dir.File("plain/inside.par");  // a folder that cannot exist
    window->SaveBtnClick();
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(std::make_pair(view.messages[0].caption, view.messages[0].icon), std::make_pair(std::string("Ошибка"), MessageIcon::Error));
}

struct SettingsDialog : WindowTest {
    RecordingLink hostLink;
    std::unique_ptr<TVM30> driver;
    void OpenDriverWith(const std::string& ini) {
        std::filesystem::remove(dir.File("cnf.INI"));
        if (!ini.empty()) std::ofstream(dir.File("cnf.INI")) << ini;
        driver = std::make_unique<TVM30>(0, &hostLink);
        window->SetDriver(DriverBinding::For(driver.get()));
        window->DriverSettingBtnClick();
    }
    std::optional<std::string> Stored(const char* key) { return platform::IniFile(dir.File("cnf.INI")).ReadString("Dorv", key); }
};

TEST_F(SettingsDialog, ShowsPistStepAsTheRadioItemAndStoresTheChoice) {
    for (auto [ini, shown, stored] :
         {std::tuple{"[Dorv]\nPistStep=2\n", 1, "2"}, {"[Dorv]\nPistStep=0\n", -1, "0"}, {"[Dorv]\nPistStep=5\n", 1, "2"}, {"", 0, "1"}}) {
        OpenDriverWith(ini);
        EXPECT_EQ(view.dialog.loaded.back().pistStepIndex, shown) << ini;
        EXPECT_EQ(Stored("PistStep"), stored) << ini;
        EXPECT_EQ(driver->Settings().pistStep, std::stoi(stored));
    }
}

TEST_F(SettingsDialog, ApplyChangesTheDriverAtOnceAndCancelChangesNothing) {
    view.dialog.edit = [](DriverSettingControls& c) { c.specAutomatika = true; };
    OpenDriverWith("");
    EXPECT_TRUE(driver->Settings().specAvtomatika);
    EXPECT_EQ(Stored("SpecAvtomatika"), "1");
    EXPECT_EQ(Stored("NoVerifeAuthorization"), "0");

    view.dialog.edit = [](DriverSettingControls& c) { c.readDecimalTRK = false; };
    view.dialog.result = DialogResult::Cancel;
    OpenDriverWith("[Dorv]\nReadDecimalTRK=1\n");
    EXPECT_TRUE(driver->Settings().readDecimalTRK);
    EXPECT_FALSE(Stored("PistStep").has_value());
    window->SetDriver({});
    window->DriverSettingBtnClick();  // no driver: no dialog
    EXPECT_EQ(view.dialog.loaded.size(), 2u);
}

}  // namespace
}  // namespace dorv::test
