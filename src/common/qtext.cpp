#include "common/qtext.h"

#include "common/gbk.h"

namespace common {

QString toQString(std::string_view gbk)
{
    const std::string utf8 = utf8FromGbk(gbk);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string fromQString(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return gbkFromUtf8(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

} // namespace common
