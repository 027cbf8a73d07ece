#pragma once

#include <QDialog>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace settings {
class Settings;
}

namespace update {

class ListRefresh;

// The update window "软件自动更新": offers the refresh of one category list and shows the progress of the
// refresh's own download. It is modal for its parent window and has no Close of its own; "以后再说.." closes it without
// touching anything. UI thread only.
class UpdateWindow : public QDialog
{
    Q_OBJECT

public:
    static constexpr int Width = 313;
    static constexpr int Height = 136;

    UpdateWindow(ListRefresh &refresh, const settings::Settings &settings, QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void startRefresh();
    void showProgress();

    QPointer<ListRefresh> m_refresh; // gone once ended
    QLabel *m_label;
    QProgressBar *m_bar;
    QPushButton *m_now;
    QPushButton *m_later;
    QTimer *m_timer;
};

} // namespace update
