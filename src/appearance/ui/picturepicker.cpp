#include "appearance/ui/picturepicker.h"

#include "platform/paths.h"

#include <QFileDialog>

namespace appearance {

namespace {

class DialogPicturePicker final : public PicturePicker
{
public:
    QString pickPicture(QWidget *parent) override
    {
        // The user's pictures folder stands in for the program's Windows default.
        const auto folder = platform::userFolder(platform::UserFolder::Pictures);
        return QFileDialog::getOpenFileName(parent, QString(), QString::fromStdString(folder.string()),
            QStringLiteral("图片文件 (*.JPG *.GIF *.BMP *.CUR *.ICO *.jpg *.gif *.bmp *.png)"));
    }
};

} // namespace

std::unique_ptr<PicturePicker> createPicturePicker()
{
    return std::make_unique<DialogPicturePicker>();
}

} // namespace appearance
