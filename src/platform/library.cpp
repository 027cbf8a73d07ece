#include "platform/library.h"

#include <dlfcn.h>

namespace platform {

void *openLibrary(const char *name)
{
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void *librarySymbol(void *library, const char *symbol)
{
    return ::dlsym(library, symbol);
}

} // namespace platform
