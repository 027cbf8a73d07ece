#pragma once

#include <filesystem>
#include <string_view>

namespace platform {

// A whole file mapped read-only into memory; empty when it is missing, unreadable or empty. The bytes are the
// file as it was when mapped, as long as nobody writes to it in place (the program only ever replaces files).
// Not copyable; the view dies with the object.
class MappedFile
{
public:
    explicit MappedFile(const std::filesystem::path &path);
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    std::string_view bytes() const { return {static_cast<const char *>(m_data), m_size}; }

private:
    void *m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace platform
