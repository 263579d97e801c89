// Where every control of the parameter window sits, in client pixels: one table that both the
// Qt and the Win32 windows read, so the two windows cannot drift apart.
#pragma once

namespace dorv::ui::geometry {

struct Place {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

inline constexpr int kClientWidth = 817;
inline constexpr int kClientHeight = 705;
inline constexpr int kStatusBarHeight = 19;

// Labels are sized to their captions: only their top-left corner is fixed.
inline constexpr Place kComPortLabel{8, 14};
inline constexpr Place kAddressLabel{224, 14};
inline constexpr Place kIdNumberLabel{264, 38};

inline constexpr Place kComPortEdit{96, 8, 89, 22};
inline constexpr Place kAddressEdit{320, 8, 89, 22};
inline constexpr Place kIdNumberEdit{320, 32, 89, 22};

inline constexpr Place kReadAllButton{8, 55, 209, 25};
inline constexpr Place kSaveButton{437, 6, 194, 25};
inline constexpr Place kLoadButton{437, 37, 194, 25};
inline constexpr Place kWriteAllButton{437, 68, 194, 25};
inline constexpr Place kToolBar{631, 4, 40, 66};
inline constexpr int kToolButton = 28;
inline constexpr Place kSettingsButton{693, 4, 116, 46};
inline constexpr Place kCloseButton{693, 68, 108, 25};

// The tab control, its tabs along the bottom, and the grid inside it (relative to the tab
// control), 4 pixels in from its sides.
inline constexpr Place kTabControl{1, 86, 815, 599};
inline constexpr int kTabBarHeight = 24;
inline constexpr Place kGrid{4, 4, 807, kTabControl.height - kTabBarHeight - 4};

}  // namespace dorv::ui::geometry
