#pragma once

#include <QObject>
#include <vector>

class QTimer;
class QWidget;

namespace appearance {

// The drop-and-bounce of the home page's picture: one timer on the UI thread steps the board through the
// computed trajectory every 25 ms, rests 2 s, and starts over. restart() begins a new cycle, so however often it
// is called exactly one animation runs. UI thread only.
class AnimatedBoard : public QObject
{
    Q_OBJECT

public:
    static constexpr int StepMs = 25;
    static constexpr int RestMs = 2000;

    explicit AnimatedBoard(QWidget *board, QObject *parent = nullptr);

    void restart();
    void stop();
    bool running() const;

private:
    void step();

    QWidget *m_board;
    QTimer *m_timer;
    std::vector<int> m_tops;
    std::size_t m_next = 0;
};

} // namespace appearance
