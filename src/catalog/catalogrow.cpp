#include "catalog/catalogrow.h"

#include <QtGlobal>
#include <cstring>
#include <vector>

namespace catalog {

template <typename Texts> void CatalogRow::assign(const Texts &texts)
{
    Q_ASSERT(texts.size() <= MaxColumns);
    std::size_t total = 0;
    for (const std::string_view text : texts)
        total += text.size();
    m_text = total == 0 ? nullptr : std::make_unique_for_overwrite<char[]>(total);
    m_columns = 0;
    std::size_t end = 0;
    for (const std::string_view text : texts) {
        if (!text.empty())
            std::memcpy(m_text.get() + end, text.data(), text.size());
        end += text.size();
        m_ends[m_columns++] = static_cast<std::uint32_t>(end);
    }
}

CatalogRow::CatalogRow(std::initializer_list<std::string_view> texts, int image)
    : stateImage(image)
{
    assign(texts);
}

CatalogRow::CatalogRow(const CatalogRow &other)
    : stateImage(other.stateImage)
    , isNew(other.isNew)
{
    *this = other;
}

CatalogRow &CatalogRow::operator=(const CatalogRow &other)
{
    if (this == &other)
        return *this;
    std::vector<std::string_view> texts;
    for (std::size_t column = 0; column < other.columnCount(); ++column)
        texts.push_back(other.text(column));
    assign(texts);
    stateImage = other.stateImage;
    isNew = other.isNew;
    return *this;
}

std::string_view CatalogRow::text(std::size_t column) const
{
    if (column >= m_columns)
        return {};
    const std::uint32_t begin = column == 0 ? 0 : m_ends[column - 1];
    return {m_text.get() + begin, m_ends[column] - begin};
}

} // namespace catalog
