#pragma once

#include <string>
#include <string_view>

// Download-manager links built from the GBK bytes of an address (its leading blank included). Pure.
namespace download {

// "thunder://" + Base64("AA" + address + "ZZ")
std::string thunderLink(std::string_view address);
// "Flashget://" + Base64("[FLASHGET]" + address + "[FLASHGET]") + "&1926"
std::string flashgetLink(std::string_view address);
// "qqdl://" + Base64(address)
std::string qqdlLink(std::string_view address);

} // namespace download
