#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where the skinned frame puts things and what the pointer does where. Pure; thread-safe.
namespace appearance {

struct Rect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect &) const = default;
};

// Title-bar button kinds: 1 close, 2 maximise, 3 minimise, 4 menu, 5 change skin.
enum class ButtonKind
{
    Close = 1,
    Maximise,
    Minimise,
    Menu,
    ChangeSkin
};

struct TitleButton
{
    ButtonKind kind;
    Rect rect;
};

// The shown buttons of a window `width` wide, laid out from the right edge in kind order: the first ends 7
// pixels from the edge, each next one directly to the left of the previous. Close is 39 x 20, the others
// 28 x 20, all at y = 5.
std::vector<TitleButton> titleButtons(int width, const std::vector<ButtonKind> &shown);

// The tooltip (GBK) of a button kind, with its trailing blank; the maximise button says "还原 " while maximised.
std::string buttonToolTip(ButtonKind kind, bool maximised);

// Border zones for resizing, in the order they are tested.
enum class ResizeZone
{
    None,
    Right,
    BottomRight,
    Bottom,
    BottomLeft,
    Left,
    TopLeft,
    Top,
    TopRight
};

// The first zone that (x, y) falls in for a window `width` x `height`, or None.
ResizeZone resizeZoneAt(int x, int y, int width, int height);

// Where the maximise button puts a window: the whole width of the screen's free area `available`, from 5 pixels
// above its top, as tall as the free area plus those 5 pixels.
Rect maximisedRect(const Rect &available);

// The window `start` after the pointer dragged the edges of `zone` by (dx, dy): the opposite edges stay where
// they are, and the window keeps at least `minWidth` x `minHeight`. Zone None moves the whole window.
Rect draggedRect(const Rect &start, ResizeZone zone, int dx, int dy, int minWidth, int minHeight);

// Tab button k (from 0): left 76 k + 10, top `tabTop`, 76 x 71.
Rect tabRect(int k, int tabTop = 30);

// A tab caption (GBK): longer than 8 bytes, it becomes its first 4 bytes and "...".
std::string tabCaption(std::string_view gbkCaption);

// Where the caption's text starts inside its tab: (12 - caption bytes) x 6.25 / 2.
double tabCaptionOffset(std::string_view gbkCaption);

// The caption font: "微软雅黑" when installed, else "宋体" when installed, else `fallback` (UTF-8 names).
std::string captionFont(const std::vector<std::string> &installedFamilies, const std::string &fallback);

} // namespace appearance
