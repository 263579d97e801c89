// Plain data the window logic hands to its drawing layer and takes back from it. Geometry is in
// pixels; colours are the toolkit's 0x00BBGGRR values.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dorv::ui {

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

struct GridCell {
    int column = 0;
    int row = 0;
    bool operator==(const GridCell&) const = default;
};

// Grid layout: 5 columns, one fixed header row.
inline constexpr int kColumnCount = 5;
inline constexpr std::array<int, kColumnCount> kColumnWidths = {38, 422, 76, 64, 169};
enum GridColumn : int { kCodeColumn = 0, kNameColumn = 1, kLimitsColumn = 2, kReadColumn = 3, kWriteColumn = 4 };
// Height of a row that the selected tab hides.
inline constexpr int kHiddenRowHeight = -1;

inline constexpr std::uint32_t kNameBackground = 0xC0DCC0;  // light green, R 192 G 220 B 192
inline constexpr std::uint32_t kBlack = 0x000000;

enum class Align { Left, Centre };

// What one cell shows. `multiLine` cells wrap words; `framed` cells draw their text in the
// frame that FramedTextGeometry gives for the cell.
struct CellContent {
    std::string text;
    Align align = Align::Left;
    bool multiLine = false;
    bool framed = false;
    bool customColours = false;  // true: fill with `background`, write in `textColour`
    std::uint32_t background = 0;
    std::uint32_t textColour = 0;
    // A value that cannot be sent as it stands (it does not fit its digit field): drawn in
    // kAlertText whatever the other colours.
    bool alert = false;
};
inline constexpr std::uint32_t kAlertText = 0x0000FF;  // red

// The text and frame rectangles of a framed cell: the text 16 pixels high around the cell's
// middle, 5 in from its sides; the frame 2 pixels outside the text. Nothing for a cell less
// than one pixel high.
struct FramedText {
    bool visible = false;
    Rect textRect;
    Rect frameRect;  // black outline, no fill
};

enum class StatusColour : std::uint32_t {
    ButtonFace = 0xFF00000F,  // the system's button-face colour
    Green = 0x008000,         // a single write went through
    Red = 0x0000FF,           // a single write failed
};

enum class TimerId {
    StatusColourReset,  // Timer1: 2000 ms after a single write, the status bar's colour resets
    EditorPlacement,    // Timer2: 50 ms after a cell is selected, the editor is placed
};
inline constexpr int kStatusColourResetMs = 2000;
inline constexpr int kEditorPlacementMs = 50;

enum class EditorId { None, WriteValueEdit, WriteValueEdit2, WriteValueCB };
enum class ValueType { Integer, Float };

// A numeric spin editor. The view applies decimals, value type, increment and bounds first,
// then the value (which the bounds may clamp).
struct SpinEditor {
    bool visible = false;
    Rect rect;
    int decimals = 0;
    ValueType valueType = ValueType::Integer;
    double increment = 1;
    double minValue = 0;
    double maxValue = 0;
    double value = 0;
};

// The drop-down list (list only).
struct ComboEditor {
    bool visible = false;
    bool enabled = false;
    Rect rect;
    std::vector<std::string> items;
    int itemIndex = -1;  // -1: nothing selected
};

// Everything about the three in-cell editors at once. The default hides them all.
struct EditorLayout {
    SpinEditor edit;    // WriteValueEdit
    SpinEditor edit2;   // WriteValueEdit2 (pairs only)
    ComboEditor combo;  // WriteValueCB
    EditorId focus = EditorId::None;
    bool AnyVisible() const { return edit.visible || edit2.visible || combo.visible; }
};

// What the editors hold when the operator confirms.
struct EditorValues {
    double edit = 0;
    double edit2 = 0;
    int comboIndex = -1;
};

enum class MessageButtons { Ok, OkCancel };
enum class MessageIcon { None, Question, Error };
enum class MessageResult { Ok, Cancel };

struct MessageRequest {
    std::string text;
    std::string caption;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
};

struct FileDialogRequest {
    std::string title;
    std::string defaultName;
    std::string defaultExtension;
    std::string initialFolder;
};

enum class DialogResult { Ok, Cancel };

}  // namespace dorv::ui
