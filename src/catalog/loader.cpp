#include "catalog/loader.h"

#include "catalog/markers.h"
#include "common/gbk.h"
#include "platform/mappedfile.h"

#include <fstream>

namespace catalog {

std::optional<std::string_view> recordBody(std::string_view member)
{
    // Two parts: one ")" with text after it, or two with the second ending the member (a trailing empty
    // part does not count).
    const std::size_t first = common::findByte(member, ')');
    if (first == std::string_view::npos)
        return std::nullopt;
    const std::size_t second = common::findByte(member, ')', first + 1);
    const bool twoParts = second == std::string_view::npos ? first + 1 < member.size() : second + 1 == member.size();
    if (!twoParts)
        return std::nullopt;
    return member.substr(0, first);
}

std::vector<std::string_view> recordBodies(std::string_view fileBytes)
{
    std::vector<std::string_view> bodies;
    forEachBody(fileBytes, [&bodies](std::string_view body) { bodies.push_back(body); });
    return bodies;
}

ItemView viewFromBody(std::string_view body, const Category &category)
{
    return ItemView{extractView(body, category.nameKey, "-"), extractView(body, category.sizeKey, "-"),
        extractView(body, timeKey(), "-"), extractView(body, addressKey(), "-")};
}

CatalogItem itemFromBody(std::string_view body, const Category &category)
{
    const ItemView view = viewFromBody(body, category);
    CatalogItem item{std::string(view.name), std::string(view.size), std::string(view.time), " ", category.tag};
    item.address += view.address;
    return item;
}

std::vector<CatalogItem> parseCategory(std::string_view fileBytes, const Category &category)
{
    std::vector<CatalogItem> items;
    forEachBody(
        fileBytes, [&items, &category](std::string_view body) { items.push_back(itemFromBody(body, category)); });
    return items;
}

std::string readCategoryFile(const std::filesystem::path &programDirectory, const Category &category)
{
    std::ifstream in(categoryFile(programDirectory, category), std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    const std::streamoff size = in.tellg();
    if (size <= 0)
        return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    in.read(bytes.data(), size);
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::vector<CatalogItem> loadCategory(const std::filesystem::path &programDirectory, const Category &category)
{
    const platform::MappedFile file(categoryFile(programDirectory, category));
    return parseCategory(file.bytes(), category);
}

} // namespace catalog
