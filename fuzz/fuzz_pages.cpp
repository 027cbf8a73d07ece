// Web pages of any bytes: conversions, share-page facts, direct links and file names never crash, a file name
// from a page is always one safe name, and the one-pass unescape of a short link gives what replacing round after
// round gives.
#include "common/gbk.h"
#include "download/conversions.h"
#include "download/fetch.h"
#include "download/sharepage.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const std::string decoded = download::DecodePage(bytes);
    const download::ShareFacts facts = download::parseSharePage(decoded);
    download::Utf8ToGb18030(bytes);
    download::extractDirectLink(bytes);
    if (bytes.size() <= 256) {
        std::string rounds = bytes;
        while (common::findText(rounds, R"(\\/)") != common::NotFound)
            rounds = common::replaceAll(rounds, R"(\\/)", "/");
        if (download::unescapeSlashes(bytes) != rounds)
            __builtin_trap();
    }
    download::textBetween(bytes, "<", ">");
    for (const std::string &candidate : {facts.name, bytes}) {
        const std::string name = download::safeFileName(candidate);
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos || name.size() > 200)
            __builtin_trap();
        for (const char c : name) {
            if (static_cast<unsigned char>(c) < 0x20)
                __builtin_trap();
        }
    }
    return 0;
}
