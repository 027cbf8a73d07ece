#pragma once

// Shared libraries opened at run time. Thread-safe.
namespace platform {

// Opens a shared library for the rest of the process; nullptr when it cannot be opened.
void *openLibrary(const char *name);

// The address of `symbol` in a library from openLibrary; nullptr when it has none.
void *librarySymbol(void *library, const char *symbol);

} // namespace platform
