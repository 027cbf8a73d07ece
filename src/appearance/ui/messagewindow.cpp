#include "appearance/ui/messagewindow.h"

#include "appearance/ui/backgroundpictures.h"
#include "appearance/ui/windowframe.h"
#include "common/qtext.h"
#include "platform/sound.h"

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace appearance {

MessageWindow::MessageWindow(const QString &text, const settings::Settings *settings, QWidget *parent)
    : QDialog(parent)
    , m_label(new QLabel(text, this))
    , m_okButton(new QPushButton(QStringLiteral("确定"), this))
{
    setObjectName(QStringLiteral("信息窗口"));
    setWindowTitle(QStringLiteral("信息："));
    setFixedSize(Width, Height);
    move(50, 50);
    m_label->setObjectName(QStringLiteral("标签_信息"));
    m_label->setGeometry(28, 64, 196, 48);
    m_label->setWordWrap(true);
    fitText();
    m_okButton->setObjectName(QStringLiteral("按钮_确定"));
    m_okButton->setGeometry(224, 84, 96, 24);
    m_okButton->setAutoDefault(false);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    auto *frame = new WindowFrame(this, {ButtonKind::Close});
    if (settings)
        applyBackground(*frame, *settings);
}

void MessageWindow::fitText()
{
    // A text longer than the label's lines grows the label about the same middle, and the window below it when
    // the room under the title bar runs out, so that no line is cut off.
    constexpr int LabelTop = 64, LabelHeight = 48, TitleBottom = 32, BottomMargin = 10;
    const int needed = m_label->heightForWidth(m_label->width());
    if (needed <= LabelHeight)
        return;
    const int top = std::max(TitleBottom, LabelTop + (LabelHeight - needed) / 2);
    m_label->setGeometry(m_label->x(), top, m_label->width(), needed);
    setFixedSize(Width, std::max(Height, top + needed + BottomMargin));
}

void MessageWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        accept();
    else
        event->accept();
}

MessageNotifier::MessageNotifier(platform::Sound &sound, const settings::Settings *settings, QWidget *parent)
    : m_sound(sound)
    , m_settings(settings)
    , m_parent(parent)
{
}

void MessageNotifier::showMessage(const std::string &gbkText, bool modal)
{
    setPending(gbkText);
    QFile chime(QStringLiteral(":/kavo/message.wav"));
    if (chime.open(QIODevice::ReadOnly))
        m_sound.play(chime.readAll().toStdString(), false);
    auto *window = new MessageWindow(common::toQString(pending()), m_settings, m_parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (modal) {
        window->exec();
    } else {
        window->show();
    }
}

void MessageNotifier::setPending(const std::string &gbkText)
{
    const std::lock_guard lock(m_mutex);
    m_pending = gbkText;
}

std::string MessageNotifier::pending() const
{
    const std::lock_guard lock(m_mutex);
    return m_pending;
}

} // namespace appearance
