#include "window_fixture.h"

namespace dorv::test {
namespace {

struct SingleWrite : WindowTest {
    void WriteRow(int row, EditorValues values, MessageResult answer = MessageResult::Ok) {
        view.current = {4, row};
        view.editorValues = values;
        view.answer = answer;
        window->WriteValueEditKeyDown(13);
    }
};

TEST_F(SingleWrite, SendsTheRawValueOfEachEditorKind) {
    const struct {
        const char* behaviour;
        int row;
        EditorValues values;
        std::int64_t sent, kind, number;
    } cases[] = {
        {"pair", 29, {3, 250, -1}, 3250, 0, 24},           {"temperature below zero", 41, {-15, 0, -1}, 215, 0, 36},
        {"temperature 200", 41, {200, 0, -1}, 200, 0, 36}, {"heater", 43, {-20, 0, -1}, 220, 0, 38},
        {"sensor off", 42, {0, 0, 1}, 200, 0, 37},         {"sensor on", 42, {0, 0, 0}, 1, 0, 37},
        {"two decimals", 16, {1.25, 0, -1}, 125, 0, 9},    {"choice", 8, {0, 0, 1}, 1, 0, 0},
        {"common command", 2, {0, 0, 1}, 1, 1, 0},         {"address carries the ID number", 1, {12, 0, -1}, 12, 2, 4242},
    };
    view.comPort = 7;
    view.address = 33;
    view.idNumber = 4242;
    Show();
    for (const auto& c : cases) {
        WriteRow(c.row, c.values);
        ASSERT_EQ(link->Count(true), static_cast<std::size_t>(&c - cases + 1)) << c.behaviour;
        const TransportCall w = link->Calls().rbegin()[1];  // the write, before its read-back
        EXPECT_EQ(std::make_tuple(w.value, std::int64_t(w.kind), w.number, w.line, w.address),
                  std::make_tuple(c.sent, c.kind, c.number, std::int64_t(7), std::int64_t(33)))
            << c.behaviour;
    }
}

TEST_F(SingleWrite, ShowsTheOutcomeOnTheStatusBar) {
    const struct {
        const char* behaviour;
        bool driver, accepted;
        int row;
        const char* text;
        std::optional<StatusColour> colour;
        std::int64_t valueAfter;
    } cases[] = {
        {"written and read back", true, true, 16, "Операция записи проведена.", StatusColour::Green, 125},
        {"refused", true, false, 16, "Ошибка при проведении операции записи.", StatusColour::Red, 0},
        {"common command has no read-back", true, true, 2, "Операция записи проведена.", StatusColour::Red, -1},
        {"address has no read-back", true, true, 1, "Операция записи проведена.", StatusColour::Red, -1},
        {"no driver", false, true, 16, "Невозможно провести операцию записи.", std::nullopt, 0},
        {"too wide for the field", true, true, 29, "Значение не помещается в поле параметра (знаков: 6)", StatusColour::Red, 0},
    };
    for (const auto& c : cases) {
        view.colours.clear();
        link->onWrite = [&](const TransportCall&) { return c.accepted; };
        link->onRead = [](const TransportCall& call) -> std::int64_t { return call.kind == 0 ? 125 : -1; };
        window = std::make_unique<TParamFrm>(view, params::NumberLocale{" ", ","});
        Show(c.driver);
        WriteRow(c.row, {c.row == 29 ? 1000.0 : 1.25, 0, 1});  // 1 000 000: seven digits, field six
        EXPECT_EQ(view.StatusTexts().back(), c.text) << c.behaviour;
        EXPECT_EQ(view.colours.empty() ? std::nullopt : std::optional(view.colours.back()), c.colour) << c.behaviour;
        EXPECT_EQ(Entry(c.row - 1).Value(), c.valueAfter) << c.behaviour;
        EXPECT_EQ(view.timersStarted.back(), std::make_pair(TimerId::StatusColourReset, 2000));
    }
    window->Timer1Timer();
    EXPECT_EQ(view.colours.back(), StatusColour::ButtonFace);
}

TEST_F(SingleWrite, CancelSendsNothingAndRepaints) {
    Show();
    WriteRow(16, {1.25, 0, -1}, MessageResult::Cancel);
    EXPECT_TRUE(link->Calls().empty());
    EXPECT_EQ(view.GridRepaints(), 1);
    EXPECT_EQ(view.messages.back().text, "Вы действительно хотите записать параметр");
}

TEST_F(WindowTest, DoubleClickReadsOnlyTheReadCell) {
    link->onRead = [](const TransportCall& c) -> std::int64_t { return c.kind == 0 ? 1 : -1; };
    Show();
    for (GridCell cell : {GridCell{4, 8}, GridCell{1, 8}, GridCell{3, 0}}) window->RxDGCommonDblClick(cell);
    EXPECT_TRUE(link->Calls().empty());
    window->RxDGCommonDblClick({3, 8});
    EXPECT_EQ(Entry(7).ReadText(), "1-Отключен");
    window->RxDGCommonDblClick({3, 2});  // a common command reads as -1
    EXPECT_EQ(window->RxDGCommonDrawCell({3, 2}).text, "Ошибка чтения!");
    link->onRead = [](const TransportCall&) -> std::int64_t { throw std::runtime_error("gone"); };
    window->RxDGCommonDblClick({3, 8});
    EXPECT_EQ(Entry(7).State().readText, "");  // a failed single read empties the text
}

TEST_F(WindowTest, EditorsAreSetUpForTheRowAndHideWhenLeft) {
    Show();
    SwitchTab(2);
    Entry(15).SetValue(125);
    Entry(40).SetValue(215);
    Entry(41).SetValue(200);
    view.editors.clear();
    for (int row : {16, 29, 41, 42}) {
        view.current = {4, row};
        window->Timer2Timer();
    }
    const auto& e = view.editors;
    EXPECT_EQ(e[0].edit.rect, (Rect{605, 391, 764, 409}));
    EXPECT_EQ(std::make_tuple(e[0].edit.valueType, e[0].edit.value, e[0].edit.increment, e[0].edit.maxValue),
              std::make_tuple(ValueType::Float, 1.25, 0.01, 2.0));
    // A pair: two editors side by side, 0..999999999 and 0..999.
    EXPECT_EQ(std::make_tuple(e[1].edit.rect.right, e[1].edit2.rect.left, e[1].edit2.rect.right), std::make_tuple(679, 684, 753));
    EXPECT_EQ(std::make_pair(e[1].edit.maxValue, e[1].edit2.maxValue), std::make_pair(999999999.0, 999.0));
    EXPECT_EQ(e[2].edit.value, -15);     // raw 215 starts the editor at -15 degrees
    EXPECT_EQ(e[3].combo.itemIndex, 1);  // 200 reads as the sensor switched off
    view.current = {4, 29};
    window->Timer2Timer();
    view.focused = EditorId::WriteValueEdit2;
    window->WriteValueEditExit();  // moving between the halves keeps both
    EXPECT_TRUE(window->Editors().AnyVisible());
    view.focused = EditorId::None;
    window->WriteValueEditExit();
    EXPECT_FALSE(window->Editors().AnyVisible());
    // The grid scrolls: the editors follow their cell, and go when it leaves the view.
    window->Timer2Timer();
    window->RxDGCommonScrolled(true);
    EXPECT_EQ(view.editorMoves.back(), std::make_pair(e[1].edit.rect.left, e[1].edit.rect.top));
    window->RxDGCommonScrolled(false);
    EXPECT_FALSE(window->Editors().AnyVisible());
}

}  // namespace
}  // namespace dorv::test
