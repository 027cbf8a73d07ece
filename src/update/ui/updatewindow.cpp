#include "update/ui/updatewindow.h"

#include "appearance/ui/backgroundpictures.h"
#include "appearance/ui/windowframe.h"
#include "download/download.h"
#include "download/progress.h"
#include "update/ui/listrefresh.h"

#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace update {

namespace {

constexpr double LabelTolerance = 1e-12;

} // namespace

UpdateWindow::UpdateWindow(ListRefresh &refresh, const settings::Settings &settings, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_refresh(&refresh)
    , m_label(new QLabel(QStringLiteral("0% 检测需更新..."), this))
    , m_bar(new QProgressBar(this))
    , m_now(new QPushButton(QStringLiteral("立即更新.."), this))
    , m_later(new QPushButton(QStringLiteral("以后再说.."), this))
    , m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("软件自动更新"));
    setWindowTitle(QStringLiteral("软件自动更新"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setFixedSize(Width, Height);
    move(50, 50);
    m_label->setObjectName(QStringLiteral("标签_进度"));
    m_label->setGeometry(20, 34, 273, 22);
    m_bar->setObjectName(QStringLiteral("进度条1"));
    m_bar->setGeometry(20, 60, 273, 16);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_now->setObjectName(QStringLiteral("按钮_立即更新"));
    m_now->setGeometry(40, 88, 100, 26);
    m_later->setObjectName(QStringLiteral("按钮_以后再说"));
    m_later->setGeometry(173, 88, 100, 26);
    m_timer->setObjectName(QStringLiteral("时钟1"));
    connect(m_now, &QPushButton::clicked, this, &UpdateWindow::startRefresh);
    connect(m_later, &QPushButton::clicked, this, &QDialog::close);
    connect(m_timer, &QTimer::timeout, this, &UpdateWindow::showProgress);
    connect(&refresh, &ListRefresh::finished, this, &QDialog::close);
    auto *frame = new appearance::WindowFrame(this, {appearance::ButtonKind::Close});
    appearance::applyBackground(*frame, settings);
}

void UpdateWindow::keyPressEvent(QKeyEvent *event)
{
    // Escape would close the window; only its buttons do.
    if (event->key() == Qt::Key_Escape)
        event->accept();
    else
        QDialog::keyPressEvent(event);
}

void UpdateWindow::startRefresh()
{
    m_now->setEnabled(false);
    if (m_refresh)
        m_refresh->start();
    m_timer->start(200);
}

void UpdateWindow::showProgress()
{
    if (!m_refresh)
        return;
    const download::Download &task = m_refresh->download();
    const download::ProgressView view = download::progressView(task.Received(), task.total(), LabelTolerance);
    m_label->setText(QString::number(view.labelPercent) + QStringLiteral("% 更新中..."));
    m_bar->setValue(view.barPosition);
}

} // namespace update
