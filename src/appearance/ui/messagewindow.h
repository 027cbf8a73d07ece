#pragma once

#include "appearance/notifier.h"

#include <QDialog>
#include <QPointer>
#include <mutex>
#include <string>

class QLabel;
class QPushButton;
class QScrollArea;

namespace platform {
class Sound;
}
namespace settings {
class Settings;
}

namespace appearance {

// The message window "信息：": one line of text and "确定". Enter or the button close it; every other key,
// Escape included, does nothing. UI thread only.
class MessageWindow : public QDialog
{
    Q_OBJECT

public:
    static constexpr int Width = 342;
    static constexpr int Height = 148;

    // `settings` chooses the background; without them the window has the plain frame.
    explicit MessageWindow(
        const QString &text, const settings::Settings *settings = nullptr, QWidget *parent = nullptr);

    // Replaces the text and fits the window to it: a word longer than a line breaks anywhere, the window grows
    // downwards up to the screen's height, and the text scrolls beyond that.
    void setText(const QString &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void fitText();
    int roomBelowTitle() const;

    QLabel *m_label;
    QScrollArea *m_scroll = nullptr; // only for a text taller than the screen
    QPushButton *m_okButton;
};

// Shows notices in message windows, with the message chime on every opening. Keeps the pending message: the
// text of the next opening. A notice that does not wait takes over the open window of an earlier one that did
// not wait either, and brings it to the front, so that notices never pile up behind the main window.
// UI thread only, but the pending message may be set from any thread.
class MessageNotifier final : public Notifier
{
public:
    MessageNotifier(platform::Sound &sound, const settings::Settings *settings, QWidget *parent);

    void showMessage(const std::string &gbkText, bool modal) override;

private:
    void setPending(const std::string &gbkText);
    std::string pending() const;

    platform::Sound &m_sound;
    const settings::Settings *m_settings;
    QWidget *m_parent;
    QPointer<MessageWindow> m_open; // the window of the last notice that did not wait, while it is open
    mutable std::mutex m_mutex;
    std::string m_pending;
};

} // namespace appearance
