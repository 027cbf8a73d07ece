#include "catalog/loader.h"

#include "catalog/markers.h"
#include "common/gbk.h"
#include "platform/mappedfile.h"

#include <fstream>

namespace catalog {

std::vector<std::string_view> recordBodies(std::string_view fileBytes)
{
    std::vector<std::string_view> bodies;
    for (const std::string_view member : common::splitText(common::untilZero(fileBytes), "(")) {
        const std::vector<std::string_view> parts = common::splitText(member, ")");
        if (parts.size() == 2)
            bodies.push_back(parts.front());
    }
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
    const std::vector<std::string_view> bodies = recordBodies(fileBytes);
    items.reserve(bodies.size());
    for (const std::string_view body : bodies)
        items.push_back(itemFromBody(body, category));
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
