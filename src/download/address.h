#pragma once

#include "common/result.h"
#include "download/downloaderror.h"

#include <string>
#include <string_view>

namespace download {

// The address a fetch or a download requests, checked before any connection: blanks and tabs around it are
// dropped (list addresses carry a leading blank). Refused with Kind::Address: an empty address, one that does
// not start with "http://" or "https://" (letter case ignored; nothing is guessed), and one that holds a blank
// or a control byte inside, which would break the request line. Every other byte, non-ASCII ones included,
// goes out as it is: no character set conversion. Pure; accepts any bytes.
common::Result<std::string, DownloadError> checkedAddress(std::string_view url);

} // namespace download
