#pragma once

#include <array>
#include <filesystem>
#include <string>

// The five catalog categories and what tells their records apart. Texts are GBK.
namespace catalog {

struct Category
{
    int number = 0; // 1 to 5
    std::string name; // 软件下载 ...; also the file's base name, the settings key and the manifest label
    std::string nameKey; // "软件名称：" ...
    std::string sizeKey; // "软件大小：" ...
    std::string tag; // tag column text with its two leading blanks
    int searchIcon = 0; // state image of a search hit from this category
};

inline constexpr int CategoryCount = 5;

// The table in category order 1 to 5. Built once; thread-safe.
const std::array<Category, CategoryCount> &categories();

// Category 1 to 5; `number` outside that range is a programmer error.
const Category &category(int number);

// Category number for a Chinese name (GBK) or a digit text "1".."5"; 0 when neither.
int categoryNumber(std::string_view nameOrNumber);

// The keys every category shares: "分享时间：" and "下载地址：".
const std::string &timeKey();
const std::string &addressKey();
// "SHA256：", the optional field of a record that carries the SHA-256 of its file as 64 hex digits. The rows of a
// list never show it.
const std::string &checksumKey();

// program directory / 自动更新 / NAME.txt
std::filesystem::path categoryFile(const std::filesystem::path &programDirectory, const Category &category);

} // namespace catalog
