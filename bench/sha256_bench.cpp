// Prints the SHA-256 of a file as the download's check computes it, a piece at a time, in the form sha256sum
// writes: sha256_bench FILE. bench/checksum_bench.sh times it against sha256sum on the same file.
#include "common/sha256.h"

#include <cstdio>
#include <fstream>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: sha256_bench FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "sha256_bench: cannot open %s\n", argv[1]);
        return 1;
    }
    // The download's check reads what has been written in pieces of this size.
    std::vector<char> piece(1 << 20);
    common::Sha256 hash;
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0)
        hash.add(piece.data(), static_cast<std::size_t>(in.gcount()));
    std::printf("%s  %s\n", common::toHex(hash.finish()).c_str(), argv[1]);
    return 0;
}
