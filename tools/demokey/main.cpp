// kavo_demokey OUTDIR: writes OUTDIR/kavo-demo.pub and OUTDIR/kavo-demo.key, a fresh key pair in minisign's format
// with the secret key unencrypted. Keys already there are kept, so that a rebuild does not invalidate what the
// earlier key signed; a lone half of a pair is an error rather than being silently replaced.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "signing/minisign.h"

namespace {

bool writeFile(const std::filesystem::path &file, const std::string &text, std::filesystem::perms perms)
{
    const std::filesystem::path temporary = file.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out)
            return false;
    }
    std::error_code failure;
    std::filesystem::permissions(temporary, perms, failure);
    std::filesystem::rename(temporary, file, failure);
    return !failure;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kavo_demokey OUTDIR\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path dir = argv[1];
    const fs::path publicFile = dir / "kavo-demo.pub";
    const fs::path secretFile = dir / "kavo-demo.key";
    const bool havePublic = fs::exists(publicFile);
    const bool haveSecret = fs::exists(secretFile);
    if (havePublic && haveSecret)
        return 0;
    if (havePublic != haveSecret) {
        std::fprintf(stderr, "kavo_demokey: only one of %s and %s exists; remove it to make a new pair\n",
            publicFile.c_str(), secretFile.c_str());
        return 1;
    }
    std::error_code failure;
    fs::create_directories(dir, failure);
    const auto [publicKey, secretKey] = signing::generateKeyPair();
    if (!writeFile(secretFile, signing::secretKeyFile(secretKey), fs::perms::owner_read | fs::perms::owner_write)
        || !writeFile(publicFile, signing::publicKeyFile(publicKey),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read)) {
        std::fprintf(stderr, "kavo_demokey: cannot write the key pair into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
