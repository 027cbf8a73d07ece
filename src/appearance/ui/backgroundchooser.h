#pragma once

#include <QWidget>
#include <functional>

class QLineEdit;

namespace settings {
class Settings;
}

namespace appearance {

// The background chooser "更换皮肤": twelve built-in backgrounds as thumbnails. Opens with its right edge at
// the cursor, closes when it loses the focus, and a click on preset k applies it to the main window and stores
// it. Deletes itself when closed. UI thread only.
class BackgroundChooser : public QWidget
{
    Q_OBJECT

public:
    static constexpr int Width = 303;
    static constexpr int Height = 156;

    // `apply` gives the main window's frame the picture bytes of the chosen preset.
    BackgroundChooser(const settings::Settings &settings, std::function<void(const QByteArray &)> apply, QPoint cursor,
        QWidget *parent = nullptr);

    void choose(int k);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const settings::Settings &m_settings;
    std::function<void(const QByteArray &)> m_apply;
    QLineEdit *m_focusKeeper;
};

} // namespace appearance
