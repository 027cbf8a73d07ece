#include "catalog/catalogrow.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using catalog::CatalogRow;

TEST(CatalogRow, KeepsEachTextApartAndCopiesWhole)
{
    const std::string longText(70000, 'x');
    const struct
    {
        const char *name;
        std::vector<std::string> texts;
    } cases[] = {
        {"five texts", {"name", "1MB", "2024.2.29", " http://a/1", "  tag"}},
        {"empty texts between", {"", "a", "", "", "b"}},
        {"all empty", {"", ""}},
        {"no texts", {}},
        {"a long text", {longText, "after"}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        CatalogRow made;
        if (row.texts.size() == 2)
            made = CatalogRow({row.texts[0], row.texts[1]}, 3);
        else if (row.texts.size() == 5)
            made = CatalogRow({row.texts[0], row.texts[1], row.texts[2], row.texts[3], row.texts[4]}, 3);
        else
            made = CatalogRow({}, 3);
        made.isNew = true;
        const CatalogRow copy = made;
        for (const CatalogRow *r : std::initializer_list<const CatalogRow *>{&made, &copy}) {
            ASSERT_EQ(r->columnCount(), row.texts.size());
            for (std::size_t column = 0; column < row.texts.size(); ++column)
                EXPECT_EQ(r->text(column), row.texts[column]);
            EXPECT_EQ(r->text(row.texts.size()), "");
            EXPECT_EQ(r->stateImage, 3);
            EXPECT_TRUE(r->isNew);
        }
    }
}
