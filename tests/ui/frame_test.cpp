#include "appearance/framegeometry.h"
#include "appearance/ui/animatedboard.h"
#include "appearance/ui/backgroundchooser.h"
#include "appearance/ui/messagewindow.h"
#include "appearance/ui/windowframe.h"
#include "common/gbk.h"
#include "download/download.h"
#include "feedback/mailsender.h"
#include "mainwindow/mainwindow.h"
#include "settings/settings.h"
#include "support/tempdir.h"
#include "ui/fakes.h"
#include "ui/fakeservices.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <gtest/gtest.h>

using appearance::ButtonKind;
using common::gbk;

namespace {

class FrameTest : public ::testing::Test, protected FakeServices
{
protected:
    std::unique_ptr<mainwindow::MainWindow> makeWindow()
    {
        return std::make_unique<mainwindow::MainWindow>(services());
    }

    settings::Settings settings{home.path()};
};

} // namespace

TEST_F(FrameTest, MainWindowButtonsSitFromTheRightAndTheMaximiseTooltipFollows)
{
    auto window = makeWindow();
    window->show();
    appearance::WindowFrame &frame = window->frame();
    EXPECT_EQ(frame.button(ButtonKind::Close)->geometry(), QRect(630 - 46, 5, 39, 20));
    EXPECT_EQ(frame.button(ButtonKind::Maximise)->x(), 630 - 74);
    EXPECT_EQ(frame.button(ButtonKind::Minimise)->x(), 630 - 102);
    EXPECT_EQ(frame.button(ButtonKind::ChangeSkin)->x(), 630 - 130);
    EXPECT_EQ(frame.button(ButtonKind::Menu), nullptr);
    EXPECT_EQ(frame.button(ButtonKind::Close)->toolTip(), QStringLiteral("关闭 "));
    EXPECT_EQ(frame.button(ButtonKind::Maximise)->toolTip(), QStringLiteral("最大化 "));
    QTest::mouseClick(frame.button(ButtonKind::Maximise), Qt::LeftButton);
    EXPECT_TRUE(frame.maximised());
    EXPECT_EQ(frame.button(ButtonKind::Maximise)->toolTip(), QStringLiteral("还原 "));
    QTest::mouseClick(frame.button(ButtonKind::Maximise), Qt::LeftButton);
    EXPECT_EQ(frame.button(ButtonKind::Maximise)->toolTip(), QStringLiteral("最大化 "));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
}

TEST_F(FrameTest, MaximiseFillsTheFreeAreaAndRestoreBringsBackTheExactGeometry)
{
    auto window = makeWindow();
    window->show();
    window->setGeometry(120, 80, 640, 490);
    const QRect before = window->geometry();
    const QRect free = window->screen()->availableGeometry();
    appearance::WindowFrame &frame = window->frame();
    QTest::mouseClick(frame.button(ButtonKind::Maximise), Qt::LeftButton);
    EXPECT_EQ(window->geometry(), QRect(free.left(), free.top() - 5, free.width(), free.height() + 5));
    EXPECT_EQ(frame.button(ButtonKind::Close)->x(), free.width() - 46);
    QTest::mouseClick(frame.button(ButtonKind::Maximise), Qt::LeftButton);
    EXPECT_FALSE(frame.maximised());
    EXPECT_EQ(window->geometry(), before);
}

namespace {

void sendMouse(QWidget *window, QEvent::Type type, QPoint local, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, window->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(window, &event);
}

// Presses at `from` (window coordinates), drags by `by` and lets go.
void drag(QWidget *window, QPoint from, QPoint by)
{
    const QPoint global = window->mapToGlobal(from);
    sendMouse(window, QEvent::MouseButtonPress, from, Qt::LeftButton);
    sendMouse(window, QEvent::MouseMove, window->mapFromGlobal(global + by), Qt::LeftButton);
    sendMouse(window, QEvent::MouseButtonRelease, window->mapFromGlobal(global + by), Qt::NoButton);
}

} // namespace

TEST_F(FrameTest, BordersResizeEveryFramedWindow)
{
    auto window = makeWindow();
    window->show();
    window->setGeometry(100, 100, 630, 485);
    // Offscreen there is no window system to resize it: the frame does it itself.
    drag(window.get(), {627, 482}, {40, 30});
    EXPECT_EQ(window->geometry(), QRect(100, 100, 670, 515));
    drag(window.get(), {3, 200}, {20, 0});
    EXPECT_EQ(window->geometry(), QRect(120, 100, 650, 515));
    drag(window.get(), {300, 3}, {0, -15});
    EXPECT_EQ(window->geometry(), QRect(120, 85, 650, 530));
    drag(window.get(), {300, 15}, {-20, 5}); // the title bar moves the window
    EXPECT_EQ(window->geometry(), QRect(100, 90, 650, 530));
    // The main window stops at its layout's size, which its pages need.
    drag(window.get(), {647, 200}, {-2000, 0});
    EXPECT_EQ(window->width(), 630);
    drag(window.get(), {300, 527}, {0, -2000});
    EXPECT_EQ(window->height(), 485);
    EXPECT_EQ(window->frame().button(ButtonKind::Close)->x(), window->width() - 46);

    appearance::MessageWindow message(QStringLiteral("信息"), nullptr);
    message.show();
    EXPECT_EQ(message.size(), QSize(342, 148));
    drag(&message, {339, 145}, {30, 20});
    EXPECT_EQ(message.size(), QSize(372, 168));
}

TEST_F(FrameTest, AClickOnEachTabOpensThePageItNames)
{
    auto window = makeWindow();
    window->show();
    auto *pages = window->findChild<QTabWidget *>(QStringLiteral("高级选择夹1"));
    ASSERT_NE(pages, nullptr);
    ASSERT_EQ(pages->count(), 7);
    // From the last to the first, so that no page is open already when its tab is clicked.
    for (int k = 6; k >= 0; --k) {
        SCOPED_TRACE(k);
        const appearance::Rect place = appearance::tabRect(k);
        const QPoint centre(place.x + place.width / 2, place.y + place.height / 2);
        auto *tab = qobject_cast<QToolButton *>(window->childAt(centre));
        ASSERT_NE(tab, nullptr) << "nothing to click there";
        EXPECT_EQ(tab->text(), pages->tabText(k));
        QTest::mouseClick(tab, Qt::LeftButton, {}, tab->mapFrom(window.get(), centre));
        EXPECT_EQ(pages->currentIndex(), k);
        EXPECT_TRUE(tab->isChecked());
    }
}

TEST_F(FrameTest, FramedWindowsHaveOurFrameAndTooltipColours)
{
    auto window = makeWindow();
    appearance::MessageWindow message(QStringLiteral("信息"), nullptr);
    for (const QWidget *framed : {static_cast<QWidget *>(window.get()), static_cast<QWidget *>(&message)}) {
        SCOPED_TRACE(framed->metaObject()->className());
        EXPECT_TRUE(framed->windowFlags().testFlag(Qt::FramelessWindowHint));
    }
    EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipBase), QColor(0xdb, 0xe7, 0xf5));
    EXPECT_EQ(QToolTip::palette().color(QPalette::ToolTipText), QColor(Qt::black));
}

TEST_F(FrameTest, ChooserStoresThePresetWithItsBlankAndClearsTheFile)
{
    settings.write(settings::keys::BackgroundFile, "/somewhere.png");
    QByteArray applied;
    auto *chooser = new appearance::BackgroundChooser(
        settings, [&](const QByteArray &bytes) { applied = bytes; }, QPoint(700, 300));
    EXPECT_EQ(chooser->windowTitle(), QStringLiteral("更换皮肤"));
    EXPECT_EQ(chooser->geometry().topLeft(), QPoint(700 - 303, 300));
    EXPECT_EQ(chooser->size(), QSize(303, 156));
    QPointer<appearance::BackgroundChooser> alive(chooser);
    chooser->show();
    QTest::mouseClick(chooser->findChild<QToolButton *>(QStringLiteral("预设2")), Qt::LeftButton);
    EXPECT_FALSE(applied.isEmpty());
    EXPECT_EQ(settings.read(settings::keys::BackgroundNumber), "2"); // written as " 2", read back trimmed
    EXPECT_NE(readFile(settings.file()).find("= 2"), std::string::npos);
    EXPECT_EQ(settings.read(settings::keys::BackgroundFile), "");
    QTRY_VERIFY(alive.isNull());
}

TEST_F(FrameTest, EveryPresetOfTheChooserIsWhollyInsideItAndBelowTheTitleBar)
{
    appearance::BackgroundChooser chooser(
        settings, [](const QByteArray &) {}, QPoint(700, 300));
    const QRect inside = chooser.rect().adjusted(0, 30, 0, 0);
    std::vector<QRect> taken;
    for (int k = 1; k <= 12; ++k) {
        SCOPED_TRACE(k);
        const auto *thumbnail = chooser.findChild<QToolButton *>(QStringLiteral("预设%1").arg(k));
        ASSERT_NE(thumbnail, nullptr);
        EXPECT_TRUE(inside.contains(thumbnail->geometry()));
        for (const QRect &other : taken)
            EXPECT_FALSE(other.intersects(thumbnail->geometry()));
        taken.push_back(thumbnail->geometry());
    }
}

TEST_F(FrameTest, BackgroundFollowsTheSettings)
{
    settings.write(settings::keys::BackgroundNumber, "13");
    auto none = makeWindow();
    none->startUp();
    EXPECT_TRUE(none->findChild<QLabel *>(QStringLiteral("背景"))->pixmap().isNull());
    none->close();
    settings.write(settings::keys::BackgroundNumber, "12");
    auto preset = makeWindow();
    preset->startUp();
    EXPECT_EQ(preset->findChild<QLabel *>(QStringLiteral("背景"))->pixmap().size(), QSize(1600, 1200));
    preset->close();
}

TEST_F(FrameTest, ChangingThePictureTwiceLeavesOneAnimationAndTheFallbackOnCancel)
{
    auto window = makeWindow();
    window->show();
    window->changeBoardPicture();
    window->changeBoardPicture();
    EXPECT_EQ(picturePicker.asked, 2);
    EXPECT_TRUE(window->board().running());
    EXPECT_EQ(window->findChildren<appearance::AnimatedBoard *>().size(), 1);
    EXPECT_EQ(window->form().board->pixmap().size(), QSize(1440, 900));
    EXPECT_EQ(settings.read(settings::keys::AnimatedPicture), common::gbkFromUtf8((home.path() / "图片.jpg").string()));
    EXPECT_EQ(window->form().board->y(), -213);
    QTRY_VERIFY(window->form().board->y() > 0);
}

TEST_F(FrameTest, MusicMenuTogglesTheLoopAndTheSetting)
{
    writeFile(home.path() / "windows.wav", "RIFF");
    auto window = makeWindow();
    window->form().playMusicAction->trigger();
    EXPECT_TRUE(window->form().playMusicAction->isChecked());
    ASSERT_EQ(sound.played.size(), 1u);
    EXPECT_TRUE(sound.played[0].loop);
    EXPECT_TRUE(settings.isYes(settings::keys::PlayMusic));
    window->form().playMusicAction->trigger();
    EXPECT_FALSE(settings.isYes(settings::keys::PlayMusic));
    EXPECT_EQ(sound.stops, 1);
}

TEST_F(FrameTest, CancelledBackgroundDialogRestoresTheDefaultAndKeepsThePreset)
{
    settings.write(settings::keys::BackgroundNumber, "5");
    settings.write(settings::keys::BackgroundFile, "/x.png");
    auto window = makeWindow();
    window->changeBackgroundFile();
    EXPECT_EQ(settings.read(settings::keys::BackgroundFile), "");
    EXPECT_EQ(settings.read(settings::keys::BackgroundNumber), "5");
    EXPECT_EQ(window->findChild<QLabel *>(QStringLiteral("背景"))->pixmap().size(), QSize(836, 194));
}

TEST_F(FrameTest, TheDefaultBannerWidensWithAWindowWiderThanItself)
{
    auto window = makeWindow();
    window->startUp();
    const QLabel *background = window->findChild<QLabel *>(QStringLiteral("背景"));
    window->resize(1200, 700);
    EXPECT_EQ(background->pixmap().width(), 1200);
    EXPECT_EQ(background->geometry(), QRect(0, 0, 1200, background->pixmap().height()));
    window->resize(630, 485);
    EXPECT_EQ(background->pixmap().size(), QSize(836, 194));
}

// Logout or a signal closes the window while a picture dialog is open; the dialog then ends empty, as a cancel
// would, but the user chose nothing: the pictures stay as the settings had them.
TEST_F(FrameTest, ClosingWhileAPictureDialogIsOpenKeepsThePictureSettings)
{
    settings.write(settings::keys::BackgroundFile, "/chosen/background.png");
    settings.write(settings::keys::AnimatedPicture, "/chosen/board.png");
    auto window = makeWindow();
    window->show();
    picturePicker.whileOpen = [&window] { window->close(); };
    window->changeBackgroundFile();
    window->changeBoardPicture();
    EXPECT_EQ(picturePicker.asked, 2);
    EXPECT_EQ(settings.read(settings::keys::BackgroundFile), "/chosen/background.png");
    EXPECT_EQ(settings.read(settings::keys::AnimatedPicture), "/chosen/board.png");
}
