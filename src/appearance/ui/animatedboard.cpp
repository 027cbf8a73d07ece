#include "appearance/ui/animatedboard.h"

#include "appearance/backgrounds.h"

#include <QTimer>
#include <QWidget>

namespace appearance {

AnimatedBoard::AnimatedBoard(QWidget *board, QObject *parent)
    : QObject(parent)
    , m_board(board)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &AnimatedBoard::step);
}

void AnimatedBoard::restart()
{
    m_timer->stop();
    m_tops = dropTrajectory(m_board->height());
    m_next = 0;
    m_board->move(m_board->x(), -m_board->height());
    m_timer->start(StepMs);
}

void AnimatedBoard::stop()
{
    m_timer->stop();
}

bool AnimatedBoard::running() const
{
    return m_timer->isActive();
}

void AnimatedBoard::step()
{
    if (m_next >= m_tops.size()) {
        restart();
        return;
    }
    m_board->move(m_board->x(), m_tops[m_next++]);
    // After the last two (29, then 24) the board rests before the next drop.
    const bool cycleDone = m_next == m_tops.size();
    m_timer->start(cycleDone ? RestMs : StepMs);
}

} // namespace appearance
