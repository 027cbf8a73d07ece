#pragma once

#include <QByteArray>

namespace settings {
class Settings;
}

namespace appearance {

class WindowFrame;

// The built-in pictures: the default banner and presets 1 to 12, as file bytes.
QByteArray defaultBackground();
QByteArray presetBackground(int k);
// The built-in board picture shown when the user cancels the picture dialog.
QByteArray fallbackBoardPicture();

// Gives a window's frame the background the settings choose: the user's file, a preset, the default, or none.
void applyBackground(WindowFrame &frame, const settings::Settings &settings);

} // namespace appearance
