#pragma once

#include <string>
#include <vector>

// What the main window shows while it starts. Pure; thread-safe.
namespace appearance {

// Layered alpha values of the fade-in: 1, 4, 7, ... 253.
std::vector<int> fadeInAlphas();

// The tray tooltip (GBK) for the music state.
std::string trayToolTip(bool musicOn);

} // namespace appearance
