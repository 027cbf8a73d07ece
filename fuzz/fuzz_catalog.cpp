// Category list files of any bytes: parsing and searching never crash, the search finds exactly the rows whose
// names hold the text, and the one-pass key finder gives what marker extraction gives for each key.
#include "catalog/loader.h"
#include "catalog/search.h"
#include "common/markers.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const std::string text = bytes.substr(0, bytes.size() % 4);
    for (int number = 1; number <= catalog::CategoryCount; ++number) {
        const catalog::Category &category = catalog::category(number);
        const auto items = catalog::parseCategory(bytes, category);
        catalog::forEachBody(bytes, [&category](std::string_view body) {
            const catalog::ItemView view = catalog::viewFromBody(body, category);
            if (view.name != common::extractView(body, category.nameKey, "-")
                || view.address != common::extractView(body, catalog::addressKey(), "-"))
                __builtin_trap();
        });
        std::size_t expected = 0;
        for (const auto &item : items)
            expected += catalog::nameMatches(item.name, text) ? 1 : 0;
        if (catalog::searchCategory(bytes, category, catalog::SearchCriterion(text)).size() != expected)
            __builtin_trap();
    }
    return 0;
}
