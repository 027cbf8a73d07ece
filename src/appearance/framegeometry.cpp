#include "appearance/framegeometry.h"

#include "common/gbk.h"

#include <algorithm>

namespace appearance {

std::vector<TitleButton> titleButtons(int width, const std::vector<ButtonKind> &shown)
{
    std::vector<ButtonKind> kinds = shown;
    std::sort(kinds.begin(), kinds.end());
    std::vector<TitleButton> buttons;
    int right = width - 7;
    for (const ButtonKind kind : kinds) {
        const int buttonWidth = kind == ButtonKind::Close ? 39 : 28;
        right -= buttonWidth;
        buttons.push_back({kind, {right, 5, buttonWidth, 20}});
    }
    return buttons;
}

std::string buttonToolTip(ButtonKind kind, bool maximised)
{
    switch (kind) {
    case ButtonKind::Close:
        return common::gbk("关闭 ");
    case ButtonKind::Maximise:
        return common::gbk(maximised ? "还原 " : "最大化 ");
    case ButtonKind::Minimise:
        return common::gbk("最小化 ");
    case ButtonKind::Menu:
        return common::gbk("菜单 ");
    case ButtonKind::ChangeSkin:
        return common::gbk("更换皮肤 ");
    }
    return {};
}

ResizeZone resizeZoneAt(int x, int y, int w, int h)
{
    if (x > w - 8 && y > 28 && y < h - 18)
        return ResizeZone::Right;
    if (x > w - 18 && y > h - 18)
        return ResizeZone::BottomRight;
    if (y > h - 8 && x >= 9 && x < w - 18)
        return ResizeZone::Bottom;
    if (x < 18 && y > h - 18)
        return ResizeZone::BottomLeft;
    if (x <= 7 && y >= 9)
        return ResizeZone::Left;
    if (x <= 17 && y <= 17)
        return ResizeZone::TopLeft;
    if (y <= 7 && x < w - 18)
        return ResizeZone::Top;
    if (x > w - 8 && y < 8)
        return ResizeZone::TopRight;
    return ResizeZone::None;
}

Rect maximisedRect(const Rect &available)
{
    return {available.x, available.y - 5, available.width, available.height + 5};
}

namespace {

// The edges a zone drags.
struct Edges
{
    bool left = false;
    bool top = false;
    bool right = false;
    bool bottom = false;
};

Edges edgesOf(ResizeZone zone)
{
    switch (zone) {
    case ResizeZone::None:
        return {};
    case ResizeZone::Right:
        return {false, false, true, false};
    case ResizeZone::BottomRight:
        return {false, false, true, true};
    case ResizeZone::Bottom:
        return {false, false, false, true};
    case ResizeZone::BottomLeft:
        return {true, false, false, true};
    case ResizeZone::Left:
        return {true, false, false, false};
    case ResizeZone::TopLeft:
        return {true, true, false, false};
    case ResizeZone::Top:
        return {false, true, false, false};
    case ResizeZone::TopRight:
        return {false, true, true, false};
    }
    return {};
}

// One axis: the start position and length after moving its low edge, its high edge, or neither by `delta`.
std::pair<int, int> dragAxis(int start, int length, bool low, bool high, int delta, int minimum)
{
    if (high)
        return {start, std::max(minimum, length + delta)};
    if (low) {
        const int end = start + length;
        const int newLength = std::max(minimum, length - delta);
        return {end - newLength, newLength};
    }
    return {start, length};
}

} // namespace

Rect draggedRect(const Rect &start, ResizeZone zone, int dx, int dy, int minWidth, int minHeight)
{
    if (zone == ResizeZone::None)
        return {start.x + dx, start.y + dy, start.width, start.height};
    const Edges edges = edgesOf(zone);
    const auto [x, width] = dragAxis(start.x, start.width, edges.left, edges.right, dx, minWidth);
    const auto [y, height] = dragAxis(start.y, start.height, edges.top, edges.bottom, dy, minHeight);
    return {x, y, width, height};
}

Rect tabRect(int k, int tabTop)
{
    return {76 * k + 10, tabTop, 76, 71};
}

std::string tabCaption(std::string_view gbkCaption)
{
    if (gbkCaption.size() <= 8)
        return std::string(gbkCaption);
    return std::string(gbkCaption.substr(0, 4)) + "...";
}

double tabCaptionOffset(std::string_view gbkCaption)
{
    return (12.0 - static_cast<double>(gbkCaption.size())) * 6.25 / 2.0;
}

std::string captionFont(const std::vector<std::string> &installedFamilies, const std::string &fallback)
{
    for (const char *wanted : {"微软雅黑", "宋体"}) {
        if (std::find(installedFamilies.begin(), installedFamilies.end(), wanted) != installedFamilies.end())
            return wanted;
    }
    return fallback;
}

} // namespace appearance
