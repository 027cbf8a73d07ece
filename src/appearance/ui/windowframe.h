#pragma once

#include "appearance/framegeometry.h"

#include <QByteArray>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <functional>
#include <map>
#include <vector>

class QButtonGroup;
class QLabel;
class QToolButton;
class QWidget;

namespace appearance {

// The skinned frame of one window: a frameless window with its title, title-bar buttons (with tooltips),
// resizing from its borders, dragging by its title bar, tab buttons, a status line and a background picture.
// Owned by its window. UI thread only.
class WindowFrame : public QObject
{
    Q_OBJECT

public:
    static constexpr int TitleHeight = 30;

    WindowFrame(QWidget *window, std::vector<ButtonKind> shown);

    // Picture file bytes; empty bytes show no picture.
    void setBackgroundPicture(const QByteArray &bytes);
    void addTabButton(const QString &caption, const QPixmap &picture, std::function<void()> click);
    // Draws tab button k (counting from 0) as the current one, pressed, and every other tab as not; -1: none.
    void setCurrentTab(int k);
    void setClickRoutine(ButtonKind kind, std::function<void()> click);
    void setStatusText(const QString &text);

    bool maximised() const { return m_maximised; }
    // The smallest size border resizing leaves: room for the title and the title-bar buttons.
    QSize minimumWindowSize() const;
    QToolButton *button(ButtonKind kind) const;
    const std::vector<QToolButton *> &tabButtons() const { return m_tabs; }
    // The caption font chosen for every frame of the process.
    static QString captionFontFamily();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createButtons(const std::vector<ButtonKind> &shown);
    void clicked(ButtonKind kind);
    void toggleMaximised();
    bool pressed(const QPoint &at, const QPoint &globalAt);
    void dragged(const QPoint &globalAt);
    void placeChrome();
    void refreshToolTips();

    QWidget *m_window;
    QLabel *m_background;
    QLabel *m_title;
    QLabel *m_status;
    QPixmap m_picture;
    std::map<ButtonKind, QToolButton *> m_buttons;
    std::map<ButtonKind, std::function<void()>> m_clicks;
    std::vector<QToolButton *> m_tabs;
    QButtonGroup *m_tabGroup;
    bool m_maximised = false;
    QRect m_restoredGeometry; // the geometry before maximising

    // A resize or move the window carries out itself, where the window system cannot (no window manager, or
    // the offscreen platform).
    struct Drag
    {
        bool active = false;
        ResizeZone zone = ResizeZone::None; // None: moving by the title bar
        QPoint pressedAt;
        QRect start;
    };
    Drag m_drag;
};

} // namespace appearance
