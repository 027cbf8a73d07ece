#include "download/transfer.h"

#include "download/curlhandles.h"
#include "download/httpanswer.h"
#include "download/naming.h"
#include "download/segments.h"
#include "platform/paths.h"

#include <cerrno>
#include <chrono>
#include <curl/curl.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <optional>
#include <stdio.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace download {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *TaskUserAgent = "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)";
constexpr std::int64_t MinPartBytes = 256 * 1024;
constexpr std::int64_t Unbounded = std::numeric_limits<std::int64_t>::max();
// A part that fails this many times in a row without receiving a byte ends the task.
constexpr int MaxAttemptsWithoutProgress = 6;
// Received bytes collect per connection and reach the disk in blocks of this size: one write per block
// instead of one per read keeps the task's CPU time low on throttled sources.
constexpr std::size_t WriteBlockBytes = 256 * 1024;

struct Part
{
    std::int64_t position = 0;
    std::int64_t end = Unbounded; // exclusive
    bool running = false;
    bool done = false;
    int failures = 0;
    Clock::time_point retryAt{};
};

class Transfer;

struct Connection
{
    Transfer *owner = nullptr;
    EasyHandle easy;
    HeaderList headers;
    std::size_t part = 0;
    std::int64_t requestedFrom = 0;
    std::int64_t startPosition = 0;
    int status = 0;
    std::optional<ContentRange> contentRange;
    std::int64_t contentLength = -1;
    std::int64_t skip = 0; // bytes to drop before the part's position (a server that ignored the range)
    bool checked = false; // the answer's first body bytes have been looked at
    std::unique_ptr<StallWatch> stall;
    std::string pending; // received, not yet written
    std::int64_t pendingOffset = 0; // file offset of pending's first byte
};

class Transfer
{
public:
    Transfer(Download::State &state, const TaskParam &param, Download *task, int fd)
        : m_state(state)
        , m_param(param)
        , m_task(task)
        , m_fd(fd)
        , m_multi(newMultiHandle())
    {
        m_parts.push_back({});
    }

    ~Transfer()
    {
        for (Connection *c : m_connections)
            release(c);
    }

    // True when every byte of the file has been written.
    bool run()
    {
        if (!m_multi)
            return false;
        while (!m_state.stop.load() && !m_failed) {
            startWaitingParts();
            if (allDone())
                return true;
            int running = 0;
            curl_multi_perform(m_multi.get(), &running);
            collectFinished();
            curl_multi_poll(m_multi.get(), nullptr, 0, 20, nullptr);
        }
        return false;
    }

    static std::size_t onHeader(char *data, std::size_t size, std::size_t count, void *user)
    {
        auto *c = static_cast<Connection *>(user);
        const std::string_view line(data, size * count);
        if (const auto status = parseStatusLine(line)) {
            // A new answer (after a redirect): forget what the previous one said.
            c->status = *status;
            c->contentRange.reset();
            c->contentLength = -1;
        } else if (const auto range = headerValue(line, "Content-Range")) {
            c->contentRange = parseContentRange(*range);
        } else if (const auto length = headerValue(line, "Content-Length")) {
            char *end = nullptr;
            const std::string text(*length);
            const long long value = std::strtoll(text.c_str(), &end, 10);
            c->contentLength = end && *end == '\0' && !text.empty() && value >= 0 ? value : -1;
        }
        return size * count;
    }

    static std::size_t onBody(char *data, std::size_t size, std::size_t count, void *user)
    {
        auto *c = static_cast<Connection *>(user);
        return c->owner->receive(*c, data, size * count);
    }

private:
    std::size_t receive(Connection &c, const char *data, std::size_t bytes)
    {
        if (!c.checked && !acceptAnswer(c))
            return 0;
        c.checked = true;
        Part &part = m_parts[c.part];
        std::size_t offset = 0;
        if (c.skip > 0) {
            const auto dropped
                = static_cast<std::size_t>(std::min<std::int64_t>(c.skip, static_cast<std::int64_t>(bytes)));
            c.skip -= static_cast<std::int64_t>(dropped);
            offset = dropped;
        }
        const std::int64_t room = part.end - part.position;
        const auto take
            = static_cast<std::size_t>(std::min<std::int64_t>(room, static_cast<std::int64_t>(bytes - offset)));
        if (c.pending.empty())
            c.pendingOffset = part.position;
        c.pending.append(data + offset, take);
        part.position += static_cast<std::int64_t>(take);
        m_state.received.fetch_add(static_cast<std::int64_t>(take));
        const bool full = part.position >= part.end;
        if ((full || c.pending.size() >= WriteBlockBytes) && !flush(c))
            return 0;
        // A part that is full ends its connection: returning less than offered makes libcurl stop.
        return full ? 0 : bytes;
    }

    bool flush(Connection &c)
    {
        const bool written = c.pending.empty() || writeAt(c.pending.data(), c.pending.size(), c.pendingOffset);
        c.pending.clear();
        return written;
    }

    // Looks at an answer before its first byte is written. False ends the connection (it is retried).
    bool acceptAnswer(Connection &c)
    {
        Part &part = m_parts[c.part];
        if (c.status == 206 && c.contentRange && c.contentRange->first == c.requestedFrom) {
            if (!m_totalKnown && c.contentRange->total >= 0)
                learnTotal(c.contentRange->total, true);
            return true;
        }
        if (c.status == 200) {
            // The whole file from its first byte: this server ignores ranges.
            c.skip = part.position;
            if (!m_totalKnown)
                learnTotal(c.contentLength, false);
            return true;
        }
        return false;
    }

    void learnTotal(std::int64_t total, bool ranges)
    {
        m_totalKnown = true;
        if (total < 0)
            return; // no length: the single connection reads to the end
        m_total = total;
        raise(EventTotalSize, static_cast<double>(total));
        if (::ftruncate(m_fd, total) != 0) {
            m_failed = true;
            return;
        }
        if (!ranges || m_parts.size() != 1) {
            m_parts.front().end = std::min(m_parts.front().end, total);
            return;
        }
        const std::vector<ByteRange> ranges_ = splitEvenly(total, std::max(1, m_param.connections), MinPartBytes);
        m_parts.front().end = ranges_.front().end;
        for (std::size_t i = 1; i < ranges_.size(); ++i)
            m_parts.push_back({ranges_[i].begin, ranges_[i].end});
        m_rangesWork = true;
    }

    bool writeAt(const char *data, std::size_t bytes, std::int64_t offset)
    {
        while (bytes > 0) {
            const ssize_t n = ::pwrite(m_fd, data, bytes, offset);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_failed = true; // a full or broken disk is not helped by retrying
                return false;
            }
            data += n;
            bytes -= static_cast<std::size_t>(n);
            offset += n;
        }
        return true;
    }

    bool allDone() const
    {
        for (const Part &p : m_parts) {
            if (!p.done)
                return false;
        }
        return true;
    }

    std::size_t runningCount() const
    {
        std::size_t count = 0;
        for (const Part &p : m_parts)
            count += p.running ? 1 : 0;
        return count;
    }

    void startWaitingParts()
    {
        const auto now = Clock::now();
        const std::size_t limit = m_rangesWork ? static_cast<std::size_t>(std::max(1, m_param.connections)) : 1;
        for (std::size_t i = 0; i < m_parts.size() && runningCount() < limit; ++i) {
            Part &p = m_parts[i];
            if (!p.running && !p.done && now >= p.retryAt)
                open(i);
        }
    }

    void open(std::size_t partIndex)
    {
        Part &part = m_parts[partIndex];
        auto *c = new Connection;
        c->owner = this;
        c->part = partIndex;
        c->requestedFrom = part.position;
        c->startPosition = part.position;
        c->easy = newEasyHandle();
        const std::string referer = "Referer: " + std::string(refererOf(m_param.sourceUrl));
        const std::string agent = std::string("User-Agent: ") + TaskUserAgent;
        const std::string range = "Range: bytes=" + std::to_string(part.position) + "-";
        for (const std::string &line :
            {std::string("Accept: */*"), referer, agent, range, std::string("Pragma: no-cache"),
                std::string("Cache-Control: no-cache"), std::string("Connection: close")})
            appendHeader(c->headers, line.c_str());
        const int chunk = m_param.alternativeChunkBytes > 0 ? m_param.alternativeChunkBytes : m_param.chunkBytes;
        CURL *h = c->easy.get();
        setRequest(h,
            {m_param.sourceUrl.c_str(), CURL_HTTP_VERSION_1_1, c->headers.get(), 10L,
                static_cast<long>(std::max(1, m_param.connectTimeoutMs))});
        c->stall = std::make_unique<StallWatch>(std::chrono::milliseconds(std::max(1, m_param.receiveTimeoutMs)));
        c->stall->attach(h);
        c->pending.reserve(WriteBlockBytes + static_cast<std::size_t>(CURL_MAX_READ_SIZE));
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, static_cast<long>(std::clamp(chunk, 1024, CURL_MAX_READ_SIZE)));
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, c);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, c);
        curl_easy_setopt(h, CURLOPT_PRIVATE, c);
        part.running = true;
        m_connections.push_back(c);
        curl_multi_add_handle(m_multi.get(), h);
    }

    void collectFinished()
    {
        int left = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi.get(), &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Connection *c = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &c);
            flush(*c);
            finish(*c, message->data.result);
            std::erase(m_connections, c);
            release(c);
        }
    }

    void finish(const Connection &c, CURLcode result)
    {
        Part &part = m_parts[c.part];
        part.running = false;
        const bool reachedEnd = part.position >= part.end;
        const bool cleanEndOfUnknownLength = part.end == Unbounded && result == CURLE_OK && c.checked;
        if (reachedEnd || cleanEndOfUnknownLength) {
            part.done = true;
            if (cleanEndOfUnknownLength) {
                part.end = part.position;
                raise(EventTotalSize, static_cast<double>(part.position));
            }
            takeOverLargestPart();
            return;
        }
        part.failures = part.position > c.startPosition ? 1 : part.failures + 1;
        if (part.failures >= MaxAttemptsWithoutProgress)
            m_failed = true;
        part.retryAt = Clock::now() + std::chrono::milliseconds(m_param.retryDelayMs);
    }

    // A free connection helps with the largest part still running.
    void takeOverLargestPart()
    {
        if (!m_rangesWork)
            return;
        std::vector<ByteRange> running;
        std::vector<std::size_t> owners;
        for (std::size_t i = 0; i < m_parts.size(); ++i) {
            if (m_parts[i].running) {
                running.push_back({m_parts[i].position, m_parts[i].end});
                owners.push_back(i);
            }
        }
        const auto half = secondHalfOfLargest(running, MinPartBytes);
        if (!half)
            return;
        for (std::size_t k = 0; k < running.size(); ++k) {
            if (running[k].end == half->end && running[k].begin < half->begin) {
                m_parts[owners[k]].end = half->begin;
                break;
            }
        }
        m_parts.push_back({half->begin, half->end});
    }

    void release(Connection *c)
    {
        curl_multi_remove_handle(m_multi.get(), c->easy.get());
        delete c;
    }

    void raise(int code, double value)
    {
        if (m_param.eventRoutine)
            m_param.eventRoutine(code, m_task, value, 0, m_task);
    }

    Download::State &m_state;
    const TaskParam &m_param;
    Download *m_task;
    int m_fd;
    MultiHandle m_multi;
    std::vector<Part> m_parts;
    std::vector<Connection *> m_connections;
    std::int64_t m_total = -1;
    bool m_totalKnown = false;
    bool m_rangesWork = false;
    bool m_failed = false;
};

bool pathTaken(const std::filesystem::path &path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

// The free target name, asking the event routine first when the name is taken. Nothing: give up.
std::optional<std::filesystem::path> chooseTarget(const TaskParam &param, Download *task)
{
    const std::filesystem::path wanted = platform::nativePath(param.localPath);
    if (wanted.filename().empty())
        return std::nullopt;
    if (pathTaken(wanted) && param.eventRoutine && param.eventRoutine(EventNameTaken, task, 0, 0, task) == 1)
        return std::nullopt;
    const std::filesystem::path folder = wanted.parent_path();
    const auto name = firstFreeName(
        wanted.filename().string(), [&folder](const std::string &candidate) { return pathTaken(folder / candidate); });
    if (!name)
        return std::nullopt;
    return folder / *name;
}

// Gives the finished data its final name without ever replacing a file that appeared there meanwhile.
std::optional<std::filesystem::path> publish(const std::filesystem::path &temporary, std::filesystem::path target)
{
    for (int attempt = 0; attempt <= 99; ++attempt) {
        if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
            return target;
        if (errno != EEXIST)
            return std::nullopt;
        target = target.parent_path() / nextName(target.filename().string());
    }
    return std::nullopt;
}

} // namespace

void runTransfer(Download::State &state, const TaskParam &param, Download *task)
{
    state.retryDelayMs = param.retryDelayMs;
    bool succeeded = false;
    if (const auto target = chooseTarget(param, task)) {
        std::filesystem::path temporary = *target;
        temporary += ".part";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            bool complete = false;
            {
                Transfer transfer(state, param, task, fd);
                complete = transfer.run();
            }
            complete = ::close(fd) == 0 && complete;
            std::optional<std::filesystem::path> published;
            if (complete)
                published = publish(temporary, *target);
            if (published) {
                const std::lock_guard lock(state.mutex);
                state.finalPath = *published;
                succeeded = true;
            } else {
                ::unlink(temporary.c_str());
            }
        }
    }
    const double received = static_cast<double>(state.received.load());
    state.succeeded = succeeded;
    state.running = false;
    if (param.eventRoutine)
        param.eventRoutine(EventEnded, task, received, 0, task);
}

} // namespace download
