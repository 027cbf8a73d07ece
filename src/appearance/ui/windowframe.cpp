#include "appearance/ui/windowframe.h"

#include "appearance/skinengine.h"
#include "common/qtext.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFontDatabase>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QToolButton>
#include <QToolTip>
#include <QWindow>

namespace appearance {

namespace {

const std::map<ButtonKind, const char *> ButtonPictures{{ButtonKind::Close, ":/kavo/pictures/button-close.png"},
    {ButtonKind::Maximise, ":/kavo/pictures/button-maximise.png"},
    {ButtonKind::Minimise, ":/kavo/pictures/button-minimise.png"},
    {ButtonKind::Menu, ":/kavo/pictures/button-menu.png"}, {ButtonKind::ChangeSkin, ":/kavo/pictures/button-skin.png"}};

// The window edges a resize zone moves and the cursor it shows, in the zones' order.
struct ZoneLook
{
    Qt::Edges edges;
    Qt::CursorShape cursor;
};

ZoneLook lookOf(ResizeZone zone)
{
    static const ZoneLook looks[] = {
        {{}, Qt::ArrowCursor}, // None
        {Qt::RightEdge, Qt::SizeHorCursor},
        {Qt::BottomEdge | Qt::RightEdge, Qt::SizeFDiagCursor},
        {Qt::BottomEdge, Qt::SizeVerCursor},
        {Qt::BottomEdge | Qt::LeftEdge, Qt::SizeBDiagCursor},
        {Qt::LeftEdge, Qt::SizeHorCursor},
        {Qt::TopEdge | Qt::LeftEdge, Qt::SizeFDiagCursor},
        {Qt::TopEdge, Qt::SizeVerCursor},
        {Qt::TopEdge | Qt::RightEdge, Qt::SizeBDiagCursor},
    };
    static_assert(std::size(looks) == static_cast<std::size_t>(ResizeZone::TopRight) + 1);
    return looks[static_cast<std::size_t>(zone)];
}

Rect toRect(const QRect &r)
{
    return {r.x(), r.y(), r.width(), r.height()};
}

QRect toQRect(const Rect &r)
{
    return {r.x, r.y, r.width, r.height};
}

// The skin engine and the tooltip colours are set up once per process, by the first frame.
void attachSkinOnce()
{
    if (skinAttached())
        return;
    SkinH_AttachRes(skinData(), skinDataLength(), "", 0, 0, 0);
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::ToolTipBase, QColor(219, 231, 245));
    tips.setColor(QPalette::ToolTipText, Qt::black);
    QToolTip::setPalette(tips);
}

} // namespace

QString WindowFrame::captionFontFamily()
{
    static const QString family = [] {
        std::vector<std::string> installed;
        for (const QString &name : QFontDatabase::families())
            installed.push_back(name.toStdString());
        const QString cjk
            = QFontDatabase::families(QFontDatabase::SimplifiedChinese).value(0, QApplication::font().family());
        return QString::fromStdString(captionFont(installed, cjk.toStdString()));
    }();
    return family;
}

WindowFrame::WindowFrame(QWidget *window, std::vector<ButtonKind> shown)
    : QObject(window)
    , m_window(window)
    , m_background(new QLabel(window))
    , m_title(new QLabel(window->windowTitle(), window))
    , m_status(new QLabel(window))
    , m_tabGroup(new QButtonGroup(this))
{
    setObjectName(QStringLiteral("frame"));
    m_window->setWindowFlag(Qt::FramelessWindowHint);
    m_window->setMouseTracking(true);
    m_window->installEventFilter(this);
    attachSkinOnce();
    const QSize size = m_window->size();
    SkinH_DetachEx(m_window);
    m_window->resize(size);
    // Every framed window can be resized from its borders, whatever size its layout fixed.
    m_window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_background->setObjectName(QStringLiteral("背景"));
    m_background->lower();
    m_background->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_title->setObjectName(QStringLiteral("标题"));
    QFont font(captionFontFamily(), 10);
    font.setBold(true);
    m_title->setFont(font);
    m_title->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_status->setObjectName(QStringLiteral("状态栏"));
    createButtons(shown);
    m_window->setMinimumSize(minimumWindowSize());
    setBackgroundPicture({});
    placeChrome();
}

void WindowFrame::createButtons(const std::vector<ButtonKind> &shown)
{
    for (const TitleButton &place : titleButtons(m_window->width(), shown)) {
        auto *button = new QToolButton(m_window);
        button->setObjectName(QStringLiteral("标题按钮%1").arg(static_cast<int>(place.kind)));
        button->setAutoRaise(true);
        button->setIcon(QPixmap(QString::fromLatin1(ButtonPictures.at(place.kind))));
        button->setIconSize(QSize(place.rect.width, place.rect.height));
        button->setGeometry(place.rect.x, place.rect.y, place.rect.width, place.rect.height);
        connect(button, &QToolButton::clicked, this, [this, kind = place.kind] { clicked(kind); });
        m_buttons[place.kind] = button;
    }
    refreshToolTips();
}

void WindowFrame::refreshToolTips()
{
    for (const auto &[kind, button] : m_buttons)
        button->setToolTip(common::toQString(buttonToolTip(kind, m_maximised)));
}

QSize WindowFrame::minimumWindowSize() const
{
    int buttons = 7;
    for (const auto &[kind, button] : m_buttons)
        buttons += button->width();
    return {buttons + 80, TitleHeight + 40};
}

QToolButton *WindowFrame::button(ButtonKind kind) const
{
    const auto found = m_buttons.find(kind);
    return found == m_buttons.end() ? nullptr : found->second;
}

void WindowFrame::setClickRoutine(ButtonKind kind, std::function<void()> click)
{
    m_clicks[kind] = std::move(click);
}

void WindowFrame::clicked(ButtonKind kind)
{
    if (const auto routine = m_clicks.find(kind); routine != m_clicks.end() && routine->second) {
        routine->second();
        return;
    }
    if (kind == ButtonKind::Close)
        m_window->close();
    else if (kind == ButtonKind::Maximise)
        toggleMaximised();
    else if (kind == ButtonKind::Minimise)
        m_window->showMinimized();
}

void WindowFrame::toggleMaximised()
{
    // The window stays in the normal state for the window system, which would otherwise keep the 5 pixels of
    // the top edge on the screen; the restore button puts back the geometry it had.
    if (!m_maximised) {
        const QScreen *screen = m_window->screen();
        if (!screen)
            return;
        m_restoredGeometry = m_window->geometry();
        m_window->setGeometry(toQRect(maximisedRect(toRect(screen->availableGeometry()))));
    } else {
        m_window->setWindowState(Qt::WindowNoState);
        m_window->setGeometry(m_restoredGeometry);
    }
    m_maximised = !m_maximised;
    refreshToolTips();
}

void WindowFrame::setBackgroundPicture(const QByteArray &bytes)
{
    m_picture = QPixmap();
    m_picture.loadFromData(bytes);
    m_background->setPixmap(m_picture);
    placeChrome();
}

void WindowFrame::placeChrome()
{
    const QSize size = m_window->size();
    // A wide banner keeps its proportions along the top, widened with a window wider than itself; any other
    // picture covers the window.
    const bool banner = !m_picture.isNull() && m_picture.width() > 2 * m_picture.height();
    m_background->setScaledContents(!banner);
    if (banner) {
        const QPixmap shown = size.width() > m_picture.width()
            ? m_picture.scaledToWidth(size.width(), Qt::SmoothTransformation)
            : m_picture;
        m_background->setPixmap(shown);
        m_background->setGeometry(0, 0, size.width(), shown.height());
    } else {
        m_background->setGeometry(0, 0, size.width(), size.height());
    }
    m_background->setStyleSheet(
        QStringLiteral("background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #eaf3fc, stop:1 #ffffff);"));
    m_title->setGeometry(10, 6, size.width() / 2, 20);
    m_status->setGeometry(8, size.height() - 22, size.width() - 16, 20);
    for (const TitleButton &place : titleButtons(size.width(), [this] {
             std::vector<ButtonKind> kinds;
             for (const auto &entry : m_buttons)
                 kinds.push_back(entry.first);
             return kinds;
         }()))
        m_buttons[place.kind]->move(place.rect.x, place.rect.y);
}

void WindowFrame::addTabButton(const QString &caption, const QPixmap &picture, std::function<void()> click)
{
    const int k = static_cast<int>(m_tabs.size());
    const Rect rect = tabRect(k);
    auto *tab = new QToolButton(m_window);
    tab->setObjectName(QStringLiteral("tab_") + caption);
    tab->setGeometry(rect.x, rect.y, rect.width, rect.height);
    tab->setAutoRaise(true);
    tab->setIcon(picture);
    tab->setIconSize(QSize(64, 44));
    tab->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tab->setText(common::toQString(tabCaption(common::fromQString(caption))));
    tab->setFont(QFont(captionFontFamily(), 9));
    // The current page's tab stands pressed in a light panel, so it shows without the mouse over it.
    tab->setCheckable(true);
    tab->setStyleSheet(QStringLiteral("QToolButton { border: 1px solid transparent; border-radius: 4px; }"
                                      "QToolButton:hover { background: rgba(255, 255, 255, 90); }"
                                      "QToolButton:checked { background: rgba(255, 255, 255, 170);"
                                      " border: 1px solid #6f9fd0; }"));
    m_tabGroup->addButton(tab, k);
    connect(tab, &QToolButton::clicked, this, [click = std::move(click)] {
        if (click)
            click();
    });
    m_tabs.push_back(tab);
}

void WindowFrame::setCurrentTab(int k)
{
    if (k >= 0 && k < static_cast<int>(m_tabs.size())) {
        m_tabs[static_cast<std::size_t>(k)]->setChecked(true);
        return;
    }
    // An exclusive group keeps one button checked: let go of it for a moment to clear them all.
    m_tabGroup->setExclusive(false);
    for (QToolButton *tab : m_tabs)
        tab->setChecked(false);
    m_tabGroup->setExclusive(true);
}

void WindowFrame::setStatusText(const QString &text)
{
    m_status->setText(text);
}

bool WindowFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window)
        return false;
    if (event->type() == QEvent::Resize || event->type() == QEvent::WindowTitleChange) {
        m_title->setText(m_window->windowTitle());
        placeChrome();
    } else if (event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        const auto *press = static_cast<QMouseEvent *>(event);
        return pressed(press->position().toPoint(), press->globalPosition().toPoint());
    } else if (event->type() == QEvent::MouseMove && m_drag.active) {
        dragged(static_cast<QMouseEvent *>(event)->globalPosition().toPoint());
        return true;
    } else if (event->type() == QEvent::MouseButtonRelease && m_drag.active) {
        m_drag.active = false;
        return true;
    }
    if (event->type() == QEvent::MouseMove) {
        const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
        m_window->setCursor(lookOf(resizeZoneAt(at.x(), at.y(), m_window->width(), m_window->height())).cursor);
    }
    return false;
}

bool WindowFrame::pressed(const QPoint &at, const QPoint &globalAt)
{
    const ResizeZone zone = resizeZoneAt(at.x(), at.y(), m_window->width(), m_window->height());
    if (zone == ResizeZone::None && at.y() >= TitleHeight)
        return false;
    QWindow *handle = m_window->windowHandle();
    const bool bySystem = handle
        && (zone == ResizeZone::None ? handle->startSystemMove() : handle->startSystemResize(lookOf(zone).edges));
    if (!bySystem)
        m_drag = {true, zone, globalAt, m_window->geometry()};
    return true;
}

void WindowFrame::dragged(const QPoint &globalAt)
{
    const QPoint delta = globalAt - m_drag.pressedAt;
    const QSize minimum = m_window->minimumSize();
    m_window->setGeometry(toQRect(
        draggedRect(toRect(m_drag.start), m_drag.zone, delta.x(), delta.y(), minimum.width(), minimum.height())));
}

} // namespace appearance
