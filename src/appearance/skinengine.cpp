#include "appearance/skinengine.h"

#include <atomic>
#include <cstring>

namespace appearance {

namespace {

std::atomic<bool> attached{false};
std::atomic<int> detached{0};
constexpr char SkinData[] = ".SHE{\"title\":\"#1e78d7\",\"tooltip\":\"#dbe7f5\",\"text\":\"#000000\",\"radius\":5}";

} // namespace

int SkinH_AttachRes(const unsigned char *data, int length, const char *, int, int, int)
{
    if (data && length >= 4 && std::memcmp(data, ".SHE", 4) == 0)
        attached.store(true);
    return 1;
}

int SkinH_DetachEx(const void *window)
{
    if (window)
        detached.fetch_add(1);
    return 1;
}

bool skinAttached()
{
    return attached.load();
}

int skinDetachCount()
{
    return detached.load();
}

const unsigned char *skinData()
{
    return reinterpret_cast<const unsigned char *>(SkinData);
}

int skinDataLength()
{
    return static_cast<int>(sizeof SkinData - 1);
}

} // namespace appearance
