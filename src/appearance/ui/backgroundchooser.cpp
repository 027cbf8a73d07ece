#include "appearance/ui/backgroundchooser.h"

#include "appearance/backgrounds.h"
#include "appearance/ui/backgroundpictures.h"
#include "appearance/ui/windowframe.h"
#include "settings/settings.h"

#include <QEvent>
#include <QLineEdit>
#include <QPixmap>
#include <QToolButton>

namespace appearance {

BackgroundChooser::BackgroundChooser(
    const settings::Settings &settings, std::function<void(const QByteArray &)> apply, QPoint cursor, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_settings(settings)
    , m_apply(std::move(apply))
    , m_focusKeeper(new QLineEdit(this))
{
    setObjectName(QStringLiteral("更换皮肤"));
    setWindowTitle(QStringLiteral("更换皮肤"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(Width, Height);
    auto *frame = new WindowFrame(this, {ButtonKind::Close});
    applyBackground(*frame, settings);
    // Ten small presets in two rows of five, the two large ones (landscape pictures as well) stacked beside them.
    for (int k = 1; k <= 12; ++k) {
        auto *thumbnail = new QToolButton(this);
        thumbnail->setObjectName(QStringLiteral("预设%1").arg(k));
        QPixmap picture;
        picture.loadFromData(presetBackground(k));
        const bool small = k <= 10;
        const QSize size = small ? QSize(44, 28) : QSize(44, 34);
        thumbnail->setIcon(picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        thumbnail->setIconSize(size);
        if (small)
            thumbnail->setGeometry(8 + ((k - 1) % 5) * 48, 36 + ((k - 1) / 5) * 34, 46, 30);
        else
            thumbnail->setGeometry(248, 36 + (k - 11) * 40, 46, 36);
        connect(thumbnail, &QToolButton::clicked, this, [this, k] { choose(k); });
    }
    m_focusKeeper->setGeometry(-100, -100, 10, 10);
    m_focusKeeper->installEventFilter(this);
    move(cursor.x() - Width, cursor.y());
}

void BackgroundChooser::choose(int k)
{
    m_apply(presetBackground(k));
    m_settings.write(settings::keys::BackgroundNumber, storedPresetValue(k));
    m_settings.write(settings::keys::BackgroundFile, "");
    close();
}

bool BackgroundChooser::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_focusKeeper && event->type() == QEvent::Show)
        m_focusKeeper->setFocus();
    if (watched == m_focusKeeper && event->type() == QEvent::FocusOut)
        close();
    return QWidget::eventFilter(watched, event);
}

} // namespace appearance
