#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>

namespace catalog {

// The texts of one list row (at most five, GBK) with its state image and new-record mark. The texts share one
// block of memory, which keeps a million rows within about their list file's size.
class CatalogRow
{
public:
    static constexpr std::size_t MaxColumns = 5;

    CatalogRow() = default;
    // More than MaxColumns texts is a programmer error.
    CatalogRow(std::initializer_list<std::string_view> texts, int image = 0);
    CatalogRow(const CatalogRow &other);
    CatalogRow &operator=(const CatalogRow &other);
    CatalogRow(CatalogRow &&) noexcept = default;
    CatalogRow &operator=(CatalogRow &&) noexcept = default;
    ~CatalogRow() = default;

    std::size_t columnCount() const { return m_columns; }
    // The text of a column; empty past the last.
    std::string_view text(std::size_t column) const;

    int stateImage = 0;
    bool isNew = false;

private:
    template <typename Texts> void assign(const Texts &texts);

    std::unique_ptr<char[]> m_text; // the texts one after another
    std::array<std::uint32_t, MaxColumns> m_ends{}; // where each text ends in m_text
    std::uint8_t m_columns = 0;
};

} // namespace catalog
