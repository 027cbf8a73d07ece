#include "appearance/backgrounds.h"
#include "appearance/framegeometry.h"
#include "appearance/marquee.h"
#include "appearance/startuplook.h"
#include "common/gbk.h"
#include "support/tempdir.h"
#include "support/waituntil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace appearance;
using common::gbk;

TEST(TitleButtons, LaidOutFromTheRightInKindOrder)
{
    const auto main
        = titleButtons(630, {ButtonKind::Close, ButtonKind::Maximise, ButtonKind::Minimise, ButtonKind::ChangeSkin});
    ASSERT_EQ(main.size(), 4u);
    EXPECT_EQ(main[0].rect, (Rect{630 - 46, 5, 39, 20}));
    EXPECT_EQ(main[1].rect.x, 630 - 74);
    EXPECT_EQ(main[2].rect.x, 630 - 102);
    EXPECT_EQ(main[3].rect.x, 630 - 130);
    EXPECT_EQ(main[3].kind, ButtonKind::ChangeSkin);
    const auto update = titleButtons(313, {ButtonKind::Close});
    ASSERT_EQ(update.size(), 1u);
    EXPECT_EQ(update[0].rect.x, 313 - 46);
}

TEST(TitleButtons, ToolTipsEndInABlankAndFollowTheMaximisedState)
{
    EXPECT_EQ(buttonToolTip(ButtonKind::Close, false), gbk("关闭 "));
    EXPECT_EQ(buttonToolTip(ButtonKind::Maximise, false), gbk("最大化 "));
    EXPECT_EQ(buttonToolTip(ButtonKind::Maximise, true), gbk("还原 "));
    EXPECT_EQ(buttonToolTip(ButtonKind::Minimise, true), gbk("最小化 "));
    EXPECT_EQ(buttonToolTip(ButtonKind::ChangeSkin, false), gbk("更换皮肤 "));
}

TEST(ResizeZones, FirstMatchingZoneInOrder)
{
    constexpr int W = 630, H = 485;
    const struct
    {
        int x, y;
        ResizeZone zone;
    } cases[] = {
        {W - 5, 20, ResizeZone::None},
        {W - 5, 100, ResizeZone::Right},
        {W - 5, H - 5, ResizeZone::BottomRight},
        {W - 15, H - 15, ResizeZone::BottomRight},
        {100, H - 3, ResizeZone::Bottom},
        {5, H - 5, ResizeZone::BottomLeft},
        {3, 100, ResizeZone::Left},
        {3, 3, ResizeZone::TopLeft},
        {15, 15, ResizeZone::TopLeft},
        {100, 3, ResizeZone::Top},
        {W - 3, 3, ResizeZone::TopRight},
        {300, 200, ResizeZone::None},
        {W - 5, 8, ResizeZone::None},
    };
    for (const auto &row : cases)
        EXPECT_EQ(resizeZoneAt(row.x, row.y, W, H), row.zone) << row.x << "," << row.y;
}

TEST(FrameGeometry, MaximisedWindowFillsTheFreeAreaAndReachesFiveAboveIt)
{
    EXPECT_EQ(maximisedRect({0, 0, 1280, 760}), (Rect{0, -5, 1280, 765}));
    // A panel on the top or the left moves the free area, and the window with it.
    EXPECT_EQ(maximisedRect({48, 24, 1232, 776}), (Rect{48, 19, 1232, 781}));
}

TEST(FrameGeometry, DraggingAZoneMovesItsEdgesAndKeepsTheOthers)
{
    const Rect start{100, 100, 630, 485};
    const struct
    {
        const char *name;
        ResizeZone zone;
        int dx, dy;
        Rect result;
    } cases[] = {
        {"right", ResizeZone::Right, 40, 99, {100, 100, 670, 485}},
        {"bottom right", ResizeZone::BottomRight, 40, 30, {100, 100, 670, 515}},
        {"bottom", ResizeZone::Bottom, 99, -30, {100, 100, 630, 455}},
        {"bottom left", ResizeZone::BottomLeft, -20, 30, {80, 100, 650, 515}},
        {"left", ResizeZone::Left, 20, 99, {120, 100, 610, 485}},
        {"top left", ResizeZone::TopLeft, -10, -10, {90, 90, 640, 495}},
        {"top", ResizeZone::Top, 99, 25, {100, 125, 630, 460}},
        {"top right", ResizeZone::TopRight, 10, -10, {100, 90, 640, 495}},
        {"title bar moves", ResizeZone::None, -30, 12, {70, 112, 630, 485}},
        {"right stops at the minimum", ResizeZone::Right, -600, 0, {100, 100, 200, 485}},
        {"left stops at the minimum, right edge fixed", ResizeZone::Left, 600, 0, {530, 100, 200, 485}},
        {"top stops at the minimum, bottom edge fixed", ResizeZone::Top, 0, 500, {100, 485, 630, 100}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(draggedRect(start, row.zone, row.dx, row.dy, 200, 100), row.result);
    }
}

TEST(TabButtons, RectanglesAndCaptionRules)
{
    // The first tab's place; the others follow in a row, edge to edge.
    EXPECT_EQ(tabRect(0), (Rect{10, 30, 76, 71}));
    for (int k = 1; k < 7; ++k)
        EXPECT_EQ(tabRect(k), (Rect{tabRect(k - 1).x + tabRect(k - 1).width, 30, 76, 71})) << k;
    EXPECT_EQ(tabCaption(gbk("软件下载")), gbk("软件下载"));
    EXPECT_EQ(tabCaption(gbk("软件下载中心")), gbk("软件") + "...");
    EXPECT_DOUBLE_EQ(tabCaptionOffset(gbk("首页")), 25.0);
    EXPECT_DOUBLE_EQ(tabCaptionOffset(gbk("软件反馈")), 12.5);
    EXPECT_EQ(captionFont({"Noto", "宋体"}, "WenQuanYi"), "宋体");
    EXPECT_EQ(captionFont({"微软雅黑", "宋体"}, "WenQuanYi"), "微软雅黑");
    EXPECT_EQ(captionFont({"DejaVu"}, "WenQuanYi Micro Hei"), "WenQuanYi Micro Hei");
}

TEST(Backgrounds, FileWinsThenPresetDefaultOrNone)
{
    EXPECT_EQ(chooseBackground("/a.png", "3").kind, BackgroundChoice::Kind::File);
    EXPECT_EQ(chooseBackground("", "").kind, BackgroundChoice::Kind::Default);
    EXPECT_EQ(chooseBackground("", "12").preset, 12);
    EXPECT_EQ(chooseBackground("", "2").preset, 2);
    EXPECT_EQ(chooseBackground("", "13").kind, BackgroundChoice::Kind::None);
    EXPECT_EQ(chooseBackground("", "02").kind, BackgroundChoice::Kind::None);
    EXPECT_EQ(storedPresetValue(2), " 2");
    EXPECT_EQ(storedPresetValue(8), " 8");
    EXPECT_EQ(storedPresetValue(12), "12");
}

TEST(AnimatedPicture, DropsBouncesAndSettlesIn37Moves)
{
    const std::vector<int> tops = dropTrajectory(213);
    ASSERT_EQ(tops.size(), 37u + 2);
    EXPECT_EQ(tops.front(), -211);
    EXPECT_EQ(tops[tops.size() - 3], 41);
    EXPECT_EQ(tops[tops.size() - 2], 29);
    EXPECT_EQ(tops.back(), 24);
    // Every height settles; none loops for ever.
    for (int height = 1; height <= 400; ++height)
        EXPECT_EQ(dropTrajectory(height).back(), 24) << height;
}

TEST(StartUpLook, FadeEndsAt253AndTheTrayNamesTheMusic)
{
    const auto alphas = fadeInAlphas();
    EXPECT_EQ(alphas.front(), 1);
    EXPECT_EQ(alphas.back(), 253);
    EXPECT_EQ(alphas.size(), 85u);
    EXPECT_LE(trayToolTip(true).size(), 62u);
    const auto characters = marqueeCharacters(gbk("广告") + "ab");
    ASSERT_EQ(characters.size(), 4u);
    EXPECT_EQ(marqueeFrame(characters, 3), "ab " + gbk("广告"));
    EXPECT_EQ(marqueeFrame(characters, 1), gbk("广告") + "ab ");
}

// A picture or sound the user named is read only when it is a regular file: a FIFO or a device named in the
// settings shows or plays nothing instead of holding up the window.
TEST(ChosenFile, OnlyARegularFileIsRead)
{
    const TempDir dir;
    writeFile(dir.path() / "board.gif", "GIF89a");
    ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
    const HangGuard guard("reading a FIFO the user named");
    EXPECT_EQ(readChosenFile(dir.path() / "board.gif"), "GIF89a");
    for (const std::filesystem::path &file :
        {dir.path() / "fifo", std::filesystem::path("/dev/zero"), dir.path() / "missing.gif", dir.path()}) {
        SCOPED_TRACE(file.string());
        EXPECT_EQ(readChosenFile(file), "");
    }
}
