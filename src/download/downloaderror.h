#pragma once

#include <string>

namespace download {

// Why a fetch or a download task did not deliver. Callers branch on `kind` and `retryable`, never on the text.
struct DownloadError
{
    enum class Kind
    {
        Address, // the address is empty, has no http:// or https:// scheme, or holds blanks or control bytes
        NoDirectLink, // the share page was read but holds no direct link: nothing to download, no retry
        Network, // no connection, a reset, a time-out, a broken answer
        HttpStatus, // the server answered with a status that gives no file
        Changed, // the file changed on the server while it was being fetched
        Disk, // the disk is full or the folder or file is not writable
        NameRefused, // no usable local name: too long, no folder, every numbered name taken, or abandoned
        Checksum, // every byte arrived, but the file's SHA-256 is not the one it should have
        TooLarge, // the file is larger than the task allows
        Stopped // Stop() was called
    };
    Kind kind = Kind::Network;
    bool retryable = false; // the task's retry loop reads this
    int httpStatus = 0; // for Kind::HttpStatus
    std::string detail; // GBK, plain words for messages; never parsed
};

// The reason as one GBK sentence for the message window and the command line, in plain Chinese, such as
// "服务器回答 HTTP 404：文件不存在". Pure.
std::string describeDownloadError(const DownloadError &error);

// Adds to the reason that the partial download is kept for a later start.
void noteKept(DownloadError &error);

} // namespace download
