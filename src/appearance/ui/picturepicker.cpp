#include "appearance/ui/picturepicker.h"

#include <QFileDialog>

namespace appearance {

namespace {

class DialogPicturePicker final : public PicturePicker
{
public:
    QString pickPicture(QWidget *parent) override
    {
        return QFileDialog::getOpenFileName(parent, QString(),
            QStringLiteral("C:\\Users\\Administrator\\Desktop\\.JPG"),
            QStringLiteral("图片文件 (*.JPG *.GIF *.BMP *.CUR *.ICO *.jpg *.gif *.bmp *.png)"));
    }
};

} // namespace

std::unique_ptr<PicturePicker> createPicturePicker()
{
    return std::make_unique<DialogPicturePicker>();
}

} // namespace appearance
