#pragma once

#include "common/result.h"
#include "common/sha256.h"
#include "download/downloaderror.h"
#include "download/fetch.h"
#include "signing/minisign.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace platform {
struct ProgramPaths;
}

// The catalog channel as the program receives it: one read of the manifest page per start, made conditional on
// the copy kept from the start before, checked against the author's signature when a key is trusted, and the
// lists checked against the size and SHA-256 that the page gives. Headless; each call is thread-safe when the
// functions it is given are.
namespace update {

// A GET with extra request headers; download::fetchPage in the program.
using PageFetcher = std::function<common::Result<download::FetchedPage, download::DownloadError>(
    const std::string &url, const std::vector<std::string> &requestHeaders)>;

struct ChannelConfig
{
    std::string manifestUrl;
    std::filesystem::path cacheFolder; // the copy of the page, its signature and their validators
    std::vector<signing::PublicKey> trustedKeys; // none: the page is used unsigned, as it comes
    // A key was configured: even when none could be read, nothing unsigned is used.
    bool keysRequired = false;
    // The timestamp of the last accepted signature, kept apart from the cache so that losing the cache never
    // lowers it. Empty: kept in the cache folder.
    std::filesystem::path acceptedFile;
    PageFetcher fetch;
    std::function<void(std::chrono::milliseconds)> wait; // between tries; the program sleeps
    std::function<double()> random; // uniform in [0, 1), for the jitter of the back-off
    int tries = 3;
};

struct ManifestRead
{
    // The page (UTF-8, as served) whose fields decide updates; empty when none may: nothing came, or what came
    // was refused.
    std::string page;
    // The page that gives the notice and the advertisement: `page`, or else the last copy that was accepted.
    std::string noticePage;
    bool signatureChecked = false; // a trusted key vouched for `page`
    bool notModified = false; // the server answered 304: the kept copy is current
    // Why nothing of what came is used (GBK): a signature that does not verify, an older page played back, no
    // signature at all, or no answer. Empty when `page` is set.
    std::string refusal;
    bool refused = false; // the server's answer was refused (not merely missing)
    int requests = 0; // GETs made, tries included
};

// The program's channel: the manifest page address, the cache folder of `paths`, the keys in the data folder's
// "keys" and KAVO_CATALOG_KEY (a key file that cannot be read goes to `problems`, UTF-8), page fetches that a
// stop request ends, through the proxy that `proxy` gives at each fetch (none given: the system's), and waits that
// the stop request cuts short.
ChannelConfig programChannel(const platform::ProgramPaths &paths, std::stop_token stop,
    std::vector<std::string> &problems, std::function<download::ProxySetting()> proxy = {});

// Reads the manifest page once: a conditional GET against the kept copy (If-None-Match, If-Modified-Since), the
// same for its signature "<url>.minisig" when a key is trusted, a check of the signature and of its timestamp
// against the last one accepted, and, when all is well, the kept copy replaced. 429 and 503 are tried again
// after their Retry-After (at least), other failures after a delay that grows with full jitter.
ManifestRead readChannelManifest(const ChannelConfig &config);

// The one read of a start: the first caller reads, callers at the same time wait for that read, later ones get
// it. Thread-safe.
class ManifestOnce
{
public:
    explicit ManifestOnce(std::function<ManifestRead()> reader);
    const ManifestRead &get();

private:
    std::function<ManifestRead()> m_reader;
    std::once_flag m_once;
    ManifestRead m_read; // written once under m_once
};

// A field of a page already read (UTF-8 bytes): the text after the first `label` up to the next "-", GBK.
std::string pageField(const std::string &page, const std::string &label);

// What the page says a category's list must be; either may be missing on a page that does not give it.
struct ListExpectation
{
    std::optional<std::int64_t> size;
    std::optional<common::Sha256Digest> sha256;
};
ListExpectation listExpectation(const std::string &page, int category);

// Whether `file` is the list the page announced. The reason (GBK) names what differs.
common::Result<void, std::string> checkListFile(const std::filesystem::path &file, const ListExpectation &expected);

// The catalog keys the program trusts: every "*.pub" in `keysFolder`, and the file `extraKey` names when it is
// not empty. A file that is not a key is skipped; its name and why go to `problems` (UTF-8).
std::vector<signing::PublicKey> loadTrustedKeys(
    const std::filesystem::path &keysFolder, const std::string &extraKey, std::vector<std::string> &problems);

// The delay before try `attempt` (1 for the first retry): uniform in [0, min(cap, base * 2^(attempt-1))),
// at least `floor`.
std::chrono::milliseconds backoffDelay(int attempt, double random, std::chrono::milliseconds floor);

// A Retry-After value: seconds, or an HTTP date (measured against `now`, Unix seconds). Nothing for anything else.
std::optional<std::chrono::seconds> parseRetryAfter(std::string_view value, std::int64_t now);

} // namespace update
