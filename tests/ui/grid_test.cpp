#include "window_fixture.h"

namespace dorv::test {
namespace {

std::vector<int> Rows(int first, int last) {
    std::vector<int> r;
    for (int i = first; i <= last; ++i) r.push_back(i);
    return r;
}

TEST_F(WindowTest, EachTabShowsItsSectionAndOnlyTheAddressTabTheIdNumber) {
    Show();
    EXPECT_EQ(view.rowCount, 58);
    EXPECT_EQ(view.VisibleRows(), Rows(2, 7));
    const struct {
        int tab;
        std::vector<int> rows;
    } cases[] = {{2, Rows(8, 57)}, {1, {1}}, {0, Rows(2, 7)}};
    for (const auto& c : cases) {
        SwitchTab(c.tab);
        EXPECT_EQ(view.VisibleRows(), c.rows) << c.tab;
        EXPECT_EQ(view.idVisible, c.tab == 1);
        EXPECT_EQ(view.current.row, c.rows.front()) << "the current row moves into the tab";
        EXPECT_FALSE(view.editors.back().AnyVisible());
        EXPECT_FALSE(window->CanSelectCell({4, c.tab == 1 ? 2 : 1}));
    }
}

TEST_F(WindowTest, RowHeightIsTheTallerWrappedTextPlusFiveButAtLeast20) {
    Show();
    const struct { int name, limits, height; } cases[] = {{40, 10, 45}, {10, 60, 65}, {0, 0, 20}};
    for (const auto& c : cases) {
        view.measure = [&](const std::string&, int width) { return width == 422 ? c.name : c.limits; };
        window->RxDGCommonColumnSized();
        EXPECT_EQ(view.heights[2], c.height);
    }
}

TEST_F(WindowTest, CellsShowNameUnitChoicesLimitsReadResultAndTheValueToWrite) {
    Show();
    Entry(16).SetReadError(true);
    Entry(19).SetValue(12345);  // wider than its two digits: the number, marked, nothing raised
    Entry(9).SetValue(-5);      // no sign travels: marked too
    const struct {
        GridCell cell;
        const char* text;
    } cases[] = {
        {{0, 0}, "Код"},
        {{0, 57}, "53"},
        {{1, 8}, "Ручной режим:\r\n  0-Включен;\r\n  1-Отключен"},
        {{1, 11}, "Дискретность датчика расхода топлива (л/имп)"},
        {{2, 8}, "<список>"},
        {{2, 24}, "от 0 до 999 "},
        {{2, 49}, "от 0,00 до 999 999,99 л"},
        {{2, 29}, "от 0 до 999 л/мин."},
        {{2, 41}, "от -99 до +200 OC (200 - датчик отключен)"},
        {{2, 43}, "от -20 до 0 OC"},
        {{3, 17}, "Ошибка чтения!"},
        {{4, 18}, "3"},  // Value 0 below Min 3
        {{4, 51}, "1-Разрешена"},
        {{4, 20}, "12345"},
        {{4, 10}, "-5"},
    };
    for (const auto& c : cases) {
        const CellContent content = window->RxDGCommonDrawCell(c.cell);
        EXPECT_EQ(content.text, c.text) << c.cell.column << "," << c.cell.row;
        // Only a value its field cannot carry is marked, and its hint says why.
        const bool tooWide = c.cell.row == 20 || c.cell.row == 10;
        EXPECT_EQ(content.alert, c.cell.column == 4 && tooWide) << c.cell.column << "," << c.cell.row;
    }
    window->RxDGCommonMouseMove({4, 20});
    EXPECT_EQ(view.hints.back(), "Значение не помещается в поле параметра (знаков: 2)");
    EXPECT_EQ(window->RxDGCommonDrawCell({1, 8}).background, 0xC0DCC0u);
    EXPECT_TRUE(window->RxDGCommonDrawCell({4, 8}).framed);
}

TEST_F(WindowTest, FramedTextAndHintsFollowTheCell) {
    const FramedText framed = TParamFrm::DrawFramedText({0, -31, 10, 0});  // middle truncates to -15
    EXPECT_EQ(std::make_pair(framed.textRect, framed.frameRect), std::make_pair(Rect{5, -23, 5, -7}, Rect{3, -25, 7, -5}));
    EXPECT_FALSE(TParamFrm::DrawFramedText({0, 40, 10, 40}).visible);
    for (GridCell cell : {GridCell{3, 0}, GridCell{3, 5}, GridCell{4, 5}, GridCell{1, 5}}) window->RxDGCommonMouseMove(cell);
    EXPECT_EQ(view.hints,
              (std::vector<std::string>{"", "Дважды щелкните на поле для чтения параметра", "Нажмите Enter для записи параметра", ""}));
}

}  // namespace
}  // namespace dorv::test
