#include "download/links.h"

#include "common/base64.h"

namespace download {

using common::base64Encode;

std::string thunderLink(std::string_view address)
{
    return "thunder://" + base64Encode("AA" + std::string(address) + "ZZ");
}

std::string flashgetLink(std::string_view address)
{
    return "Flashget://" + base64Encode("[FLASHGET]" + std::string(address) + "[FLASHGET]") + "&1926";
}

std::string qqdlLink(std::string_view address)
{
    return "qqdl://" + base64Encode(address);
}

} // namespace download
