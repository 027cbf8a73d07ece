#pragma once

#include "common/result.h"
#include "download/controlfile.h"
#include "download/downloaderror.h"
#include "platform/files.h"

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The files of one download on disk: "<target>.part" with the data and "<target>.part.ctl" with its control
// record, both created exclusively, never through a symbolic link, and the partial file locked for the task's
// life. Only files claimed here are ever renamed or removed. POSIX; thread-safe (each call works on its own files).
namespace download {

inline constexpr const char *PartSuffix = ".part";
inline constexpr const char *ControlSuffix = ".part.ctl";
inline constexpr const char *ControlTempSuffix = ".part.ctl.new";

using platform::UniqueFd;

struct PartFiles
{
    std::filesystem::path target; // the final name
    std::filesystem::path part;
    std::filesystem::path control;
    std::filesystem::path controlTemporary; // where a new control record is written before it replaces the old
    UniqueFd fd; // the partial file, open for reading and writing, locked
    std::optional<ControlRecord> resumed; // the record of our unfinished download found there, if any
};

// The names of the files a download of `target` keeps until it ends: the data, the control record and the
// record's temporary, in that order.
std::array<std::filesystem::path, 3> partialFileNames(const std::filesystem::path &target);

// Claims the files for downloading `address` to `wanted` (a native path). The name is first cut to fit the file
// system's 255 bytes with every suffix and a counter, keeping its extension. A name is taken when a file or link
// has it, or when its partial or control file (or the control file's temporary) belongs to someone else:
// a record that does not parse, or a download that another task holds locked. An unfinished download that no task
// holds is resumed, whatever address its record names. When the wanted name is taken, `keepGoing` is asked once (false
// abandons); then the numbered names "(1)" ... "(99)" are tried.
common::Result<PartFiles, DownloadError> claimPartFiles(
    const std::filesystem::path &wanted, const std::string &address, const std::function<bool()> &keepGoing);

// Writes `record` as the control file in one step: a temporary file beside it, flushed, renamed over it.
common::Result<void, DownloadError> writeControl(const PartFiles &files, const ControlRecord &record);

// Gives the partial file its final name without ever replacing a file: when a file appeared at the target
// meanwhile, the next free numbered name is used. Then removes the control file and releases the lock.
common::Result<std::filesystem::path, DownloadError> publishPartFiles(PartFiles &files);

// Removes the partial and control files and releases the lock.
void discardPartFiles(PartFiles &files);

// The reason for a failed file operation with this errno.
DownloadError diskError(int errnum);

} // namespace download
