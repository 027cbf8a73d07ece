#include "catalog/category.h"

#include "common/gbk.h"
#include "platform/paths.h"

#include <cassert>

namespace catalog {

using common::gbk;

const std::array<Category, CategoryCount> &categories()
{
    static const std::array<Category, CategoryCount> table{{
        {1, gbk("软件下载"), gbk("软件名称："), gbk("软件大小："), gbk("  绿色软件"), 0},
        {2, gbk("源码下载"), gbk("源码名称："), gbk("源码大小："), gbk("  绿色源码"), 2},
        {3, gbk("模块下载"), gbk("模块名称："), gbk("模块大小："), gbk("  绿色模块"), 1},
        {4, gbk("电脑技术"), gbk("文本名称："), gbk("文本大小："), gbk("  安全文本"), 3},
        {5, gbk("常用软件"), gbk("软件名称："), gbk("软件大小："), gbk("  安全软件"), 0},
    }};
    return table;
}

const Category &category(int number)
{
    assert(number >= 1 && number <= CategoryCount);
    return categories()[static_cast<std::size_t>(number - 1)];
}

int categoryNumber(std::string_view nameOrNumber)
{
    if (nameOrNumber.size() == 1 && nameOrNumber[0] >= '1' && nameOrNumber[0] <= '5')
        return nameOrNumber[0] - '0';
    for (const Category &c : categories()) {
        if (c.name == nameOrNumber)
            return c.number;
    }
    return 0;
}

const std::string &timeKey()
{
    static const std::string key = gbk("分享时间：");
    return key;
}

const std::string &addressKey()
{
    static const std::string key = gbk("下载地址：");
    return key;
}

const std::string &checksumKey()
{
    static const std::string key = gbk("SHA256：");
    return key;
}

std::filesystem::path categoryFile(const std::filesystem::path &programDirectory, const Category &category)
{
    static const std::filesystem::path folder = platform::nativePath(gbk("自动更新"));
    return programDirectory / folder / platform::nativePath(category.name + ".txt");
}

} // namespace catalog
