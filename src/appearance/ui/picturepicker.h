#pragma once

#include <QString>
#include <memory>

class QWidget;

namespace appearance {

// Asks the user for a picture file; an empty text means the user cancelled. UI thread only.
class PicturePicker
{
public:
    virtual ~PicturePicker() = default;
    virtual QString pickPicture(QWidget *parent) = 0;
};

// The system's file dialog with the program's picture filter.
std::unique_ptr<PicturePicker> createPicturePicker();

} // namespace appearance
