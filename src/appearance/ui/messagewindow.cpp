#include "appearance/ui/messagewindow.h"

#include "appearance/ui/backgroundpictures.h"
#include "appearance/ui/windowframe.h"
#include "common/qtext.h"
#include "platform/sound.h"

#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>

#include <algorithm>

namespace appearance {

namespace {

constexpr int LabelLeft = 28, LabelTop = 64, LabelWidth = 196, LabelHeight = 48;
constexpr int TitleBottom = 32, BottomMargin = 10;

// The text with a break opportunity (a zero-width space) between the characters of every word wider than a
// line, which a label would otherwise cut at its edge: long Latin words and addresses. Chinese text breaks
// between its characters anyway.
QString breakLongWords(const QString &text, const QFontMetrics &metrics, int lineWidth)
{
    static const QChar Opportunity(0x200B);
    QString out;
    out.reserve(text.size());
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && !text.at(end).isSpace())
            ++end;
        const QString word = text.mid(start, end - start);
        if (metrics.horizontalAdvance(word) <= lineWidth) {
            out += word;
        } else {
            for (qsizetype i = 0; i < word.size(); ++i) {
                out += word.at(i);
                if (i + 1 < word.size() && !word.at(i).isHighSurrogate())
                    out += Opportunity;
            }
        }
        for (; end < text.size() && text.at(end).isSpace(); ++end)
            out += text.at(end);
        start = end;
    }
    return out;
}

} // namespace

MessageWindow::MessageWindow(const QString &text, const settings::Settings *settings, QWidget *parent)
    : QDialog(parent)
    , m_label(new QLabel(this))
    , m_okButton(new QPushButton(QStringLiteral("确定"), this))
{
    setObjectName(QStringLiteral("信息窗口"));
    setWindowTitle(QStringLiteral("信息："));
    setFixedSize(Width, Height);
    move(50, 50);
    m_label->setObjectName(QStringLiteral("标签_信息"));
    m_label->setWordWrap(true);
    setText(text);
    m_okButton->setObjectName(QStringLiteral("按钮_确定"));
    m_okButton->setGeometry(224, 84, 96, 24);
    m_okButton->setAutoDefault(false);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    auto *frame = new WindowFrame(this, {ButtonKind::Close});
    if (settings)
        applyBackground(*frame, *settings);
}

void MessageWindow::setText(const QString &text)
{
    m_label->setText(breakLongWords(text, m_label->fontMetrics(), LabelWidth));
    fitText();
}

int MessageWindow::roomBelowTitle() const
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const int screenHeight = screen ? screen->availableGeometry().height() : 768;
    return std::max(LabelHeight, screenHeight - pos().y() - TitleBottom - BottomMargin);
}

void MessageWindow::fitText()
{
    // The label starts from the layout's place each time: a reused window may get a shorter text.
    if (m_scroll) {
        m_label = qobject_cast<QLabel *>(m_scroll->takeWidget());
        m_label->setParent(this);
        m_label->show();
        delete m_scroll;
        m_scroll = nullptr;
    }
    m_label->setGeometry(LabelLeft, LabelTop, LabelWidth, LabelHeight);
    setFixedSize(Width, Height);
    // A text longer than the label's lines grows the label about the same middle, and the window below it when
    // the room under the title bar runs out, so that no line is cut off; past the screen's height it scrolls.
    const int needed = m_label->heightForWidth(LabelWidth);
    if (needed <= LabelHeight)
        return;
    const int top = std::max(TitleBottom, LabelTop + (LabelHeight - needed) / 2);
    const int room = roomBelowTitle();
    if (needed <= room) {
        m_label->setGeometry(LabelLeft, top, LabelWidth, needed);
        setFixedSize(Width, std::max(Height, top + needed + BottomMargin));
        return;
    }
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("滚动_信息"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setWidgetResizable(true);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->setGeometry(LabelLeft, TitleBottom, LabelWidth, room);
    m_scroll->setWidget(m_label);
    m_scroll->show();
    setFixedSize(Width, TitleBottom + room + BottomMargin);
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
    if (!modal && m_open) {
        m_open->setText(common::toQString(pending()));
        m_open->show();
        m_open->raise();
        m_open->activateWindow();
        return;
    }
    auto *window = new MessageWindow(common::toQString(pending()), m_settings, m_parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (modal) {
        window->exec();
    } else {
        m_open = window;
        window->show();
        window->activateWindow();
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
