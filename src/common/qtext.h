#pragma once

#include <QString>
#include <string>
#include <string_view>

// The one border between the program's GBK text and Qt strings. Thread-safe.
namespace common {

QString toQString(std::string_view gbk);
std::string fromQString(const QString &text);

} // namespace common
