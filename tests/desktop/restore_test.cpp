#include "desktop/kavoprocess.h"
#include "desktop/xclient.h"
#include "support/tempdir.h"

#include <QProcess>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

// The program itself under openbox with a real tray host (trayer), driven by real input. Every way back from the
// tray must show the window, every time: a restore that the program undid a moment later was the fault here.
namespace {

constexpr int Restores = 30;
constexpr int WaitMs = 10000;

class RealRestore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_x.connected());
        m_trayer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_trayer.start(QStringLiteral("trayer"),
            {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"), QStringLiteral("right"),
                QStringLiteral("--widthtype"), QStringLiteral("pixel"), QStringLiteral("--width"), QStringLiteral("64"),
                QStringLiteral("--heighttype"), QStringLiteral("pixel"), QStringLiteral("--height"),
                QStringLiteral("32"), QStringLiteral("--transparent"), QStringLiteral("false")});
        ASSERT_TRUE(m_trayer.waitForStarted(5000)) << "trayer is needed as the tray host (Debian package trayer)";
        ASSERT_TRUE(m_x.waitFor([this] { return m_x.selectionOwned("_NET_SYSTEM_TRAY_S0"); }, WaitMs));
        startKavo(m_kavo, m_home.path(), m_instance, QStringLiteral("http://127.0.0.1:9/"));
        ASSERT_TRUE(m_kavo.waitForStarted(5000));
        ASSERT_TRUE(m_x.waitFor(
            [this] {
                m_window = mainWindow();
                return m_window != 0 && m_x.viewable(m_window);
            },
            20000));
        ASSERT_TRUE(m_x.pingTwice(m_window, WaitMs));
    }

    void TearDown() override
    {
        for (QProcess *process : {&m_kavo, &m_trayer}) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished();
            }
        }
    }

    XClient::WindowId mainWindow() const
    {
        for (const XClient::WindowId window : m_x.windowsOf("kavo")) {
            if (m_x.title(window).startsWith(QStringLiteral("KAVO 软件一键下载")))
                return window;
        }
        return 0;
    }

    // The tray icon docked in trayer: the program's small window on show inside the tray host's.
    XClient::WindowId trayIcon() const
    {
        for (const XClient::WindowId window : m_x.windowsOf("kavo")) {
            const QRect rect = m_x.geometry(window);
            if (window != m_window && m_x.viewable(window) && m_x.embedded(window) && rect.width() <= 64
                && rect.height() <= 64 && rect.width() > 4)
                return window;
        }
        return 0;
    }

    // The program's pop-up menu on show.
    XClient::WindowId popupMenu() const
    {
        for (const XClient::WindowId window : m_x.windowsOf("kavo")) {
            if (m_x.viewable(window) && m_x.overrideRedirect(window) && m_x.geometry(window).width() > 60)
                return window;
        }
        return 0;
    }

    // Hidden, with the tray icon put up anew: hiding replaces the icon's window, and a click on the old one,
    // still on its way out, would reach nothing.
    bool inTray(XClient::WindowId oldIcon)
    {
        return m_x.waitFor(
            [this, oldIcon] {
                const XClient::WindowId icon = trayIcon();
                return !m_x.viewable(m_window) && icon != 0 && icon != oldIcon;
            },
            WaitMs);
    }

    // The title bar's 最小化 button, held and released.
    bool minimiseByTitleBar()
    {
        const QRect frame = m_x.geometry(m_window);
        const XClient::WindowId icon = trayIcon();
        return m_x.click({frame.x() + frame.width() - 102 + 14, frame.y() + 15}, m_window) && inTray(icon);
    }

    bool hideByHome()
    {
        const XClient::WindowId icon = trayIcon();
        return XClient::key("Home") && inTray(icon);
    }

    // Shown, and still shown once the program has handled everything that followed.
    bool shown()
    {
        return m_x.waitFor([this] { return m_x.viewable(m_window); }, WaitMs) && m_x.pingTwice(m_window, WaitMs)
            && m_x.viewable(m_window);
    }

    // Clicks the tray icon until the program has taken the click. The test clicks the icon again at the same
    // place sooner than a hand would: within the double-click time that press is the second of a double click,
    // which does nothing. Such a click leaves the very same icon up and nothing changed once the program has
    // handled all its input, whereas a click the program took shows the window or the menu, and a restore always
    // takes that icon down. Clicks that made double clicks are counted, not failed.
    bool clickTrayIcon(int button, const std::function<bool()> &taken)
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const XClient::WindowId icon = trayIcon();
            m_clicked = icon;
            if (icon == 0 || !m_x.click(m_x.geometry(icon).center(), icon, button))
                return false;
            if (m_x.waitFor([&] { return taken() || trayIcon() != icon; }, 2000) || !m_x.pingTwice(m_window, WaitMs))
                return true;
            if (taken() || trayIcon() != icon)
                return true;
            ++m_lostClicks;
        }
        return false;
    }

    // Item `index` of the tray menu: its five items stand between separators, the first at the top. A press that
    // the open menu did not take (it stays open) is given again, counted.
    bool chooseFromTrayMenu(int index)
    {
        XClient::WindowId menu = 0;
        if (!clickTrayIcon(3, [&] { return (menu = popupMenu()) != 0; }))
            return false;
        for (int attempt = 0; attempt < 5; ++attempt) {
            const QRect rect = m_x.geometry(menu);
            const double pitch = rect.height() / 5.0;
            if (!m_x.click({rect.x() + rect.width() / 3, rect.y() + static_cast<int>(pitch * (index + 0.5))}, menu))
                return false;
            if (m_x.waitFor([&] { return popupMenu() == 0; }, 2000) || !m_x.pingTwice(m_window, WaitMs)
                || popupMenu() == 0)
                return true;
            ++m_lostClicks;
        }
        return false;
    }

    bool startSecondInstance()
    {
        QProcess second;
        startKavo(second, m_home.path(), m_instance, QStringLiteral("http://127.0.0.1:9/"));
        return second.waitForFinished(WaitMs) && second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0;
    }

    // Runs `restore` Restores times after `hide`; the number of restores that showed the window.
    int restoresShown(const std::function<bool(int)> &hide, const std::function<bool(int)> &restore)
    {
        for (int i = 0; i < Restores; ++i) {
            if (!hide(i)) {
                ADD_FAILURE() << "hiding " << i << " failed: " << describe();
                return i;
            }
            if (!restore(i) || !shown()) {
                ADD_FAILURE() << "restore " << i << " did not show the window: " << describe();
                return i;
            }
        }
        return Restores;
    }

    // The program's windows, for a failure's message.
    std::string describe() const
    {
        std::string text = "tray icon clicked last: " + std::to_string(m_clicked);
        for (const XClient::WindowId window : m_x.windowsOf("kavo")) {
            const QRect rect = m_x.geometry(window);
            text += "\n  " + std::to_string(window) + (window == m_window ? " (main)" : "")
                + (m_x.viewable(window) ? " shown" : " hidden") + (m_x.overrideRedirect(window) ? " pop-up " : " ")
                + std::to_string(rect.x()) + "," + std::to_string(rect.y()) + " " + std::to_string(rect.width()) + "x"
                + std::to_string(rect.height());
        }
        return text;
    }

    XClient m_x;
    TempDir m_home;
    const QString m_instance = QStringLiteral("kavo-restore-test-%1").arg(::getpid());
    QProcess m_trayer;
    QProcess m_kavo;
    XClient::WindowId m_window = 0;
    XClient::WindowId m_clicked = 0; // the tray icon clicked last
    int m_lostClicks = 0;
};

} // namespace

TEST_F(RealRestore, TrayClickAfterTheTitleBarsMinimiseAndAfterHome)
{
    const auto hide = [this](int i) { return i % 2 == 0 ? minimiseByTitleBar() : hideByHome(); };
    EXPECT_EQ(restoresShown(hide, [this](int) { return clickTrayIcon(1, [this] { return m_x.viewable(m_window); }); }),
        Restores);
    std::printf("tray clicks taken as double clicks: %d\n", m_lostClicks);
}

TEST_F(RealRestore, HomeKey)
{
    const auto hide = [this](int i) { return i % 2 == 0 ? minimiseByTitleBar() : hideByHome(); };
    EXPECT_EQ(restoresShown(hide, [](int) { return XClient::key("Home"); }), Restores);
}

// 打开KAVO软件首页 and 意见反馈 in turn.
TEST_F(RealRestore, TrayMenu)
{
    const auto hide = [this](int i) { return i % 2 == 0 ? minimiseByTitleBar() : hideByHome(); };
    EXPECT_EQ(restoresShown(hide, [this](int i) { return chooseFromTrayMenu(i % 2); }), Restores);
    std::printf("clicks given again (double clicks on the icon, presses the menu left): %d\n", m_lostClicks);
}

TEST_F(RealRestore, SecondStart)
{
    const auto hide = [this](int i) { return i % 2 == 0 ? minimiseByTitleBar() : hideByHome(); };
    EXPECT_EQ(restoresShown(hide, [this](int) { return startSecondInstance(); }), Restores);
}
