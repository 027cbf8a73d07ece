#include "appearance/ui/backgroundpictures.h"

#include "appearance/backgrounds.h"
#include "appearance/ui/windowframe.h"
#include "platform/paths.h"
#include "settings/settings.h"

#include <QFile>

namespace appearance {

namespace {

QByteArray resource(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QByteArray defaultBackground()
{
    return resource(QStringLiteral(":/kavo/pictures/default.png"));
}

QByteArray presetBackground(int k)
{
    return resource(QStringLiteral(":/kavo/pictures/preset%1.jpg").arg(k));
}

QByteArray fallbackBoardPicture()
{
    return resource(QStringLiteral(":/kavo/pictures/board.jpg"));
}

void applyBackground(WindowFrame &frame, const settings::Settings &settings)
{
    const BackgroundChoice choice = chooseBackground(
        settings.read(settings::keys::BackgroundFile), settings.read(settings::keys::BackgroundNumber));
    switch (choice.kind) {
    case BackgroundChoice::Kind::File: {
        frame.setBackgroundPicture(QByteArray::fromStdString(readChosenFile(platform::nativePath(choice.file))));
        break;
    }
    case BackgroundChoice::Kind::Default:
        frame.setBackgroundPicture(defaultBackground());
        break;
    case BackgroundChoice::Kind::Preset:
        frame.setBackgroundPicture(presetBackground(choice.preset));
        break;
    case BackgroundChoice::Kind::None:
        break;
    }
}

} // namespace appearance
