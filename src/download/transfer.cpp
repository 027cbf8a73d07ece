#include "download/transfer.h"

#include "common/gbk.h"
#include "download/address.h"
#include "download/answercheck.h"
#include "download/checkpointer.h"
#include "download/curlhandles.h"
#include "download/httpanswer.h"
#include "download/partfiles.h"
#include "download/prefixhasher.h"
#include "download/segmentplanner.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace download {

namespace {

using Clock = std::chrono::steady_clock;
using Kind = DownloadError::Kind;

constexpr const char *TaskUserAgent = "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)";
constexpr std::int64_t MinPartBytes = 256 * 1024;
constexpr std::int64_t Unbounded = SegmentPlanner::Unbounded;
// Received bytes collect per connection and reach the disk in blocks of this size: one write per block
// instead of one per read keeps the task's CPU time low on throttled sources.
constexpr std::size_t WriteBlockBytes = 256 * 1024;
// The control record follows the data at least this often.
constexpr auto CheckpointInterval = std::chrono::seconds(1);
constexpr std::int64_t CheckpointBytes = 4 << 20;
// With a checksum to meet, the file is fetched in pieces of this size in order, so the prefix that can be
// hashed grows while the download runs and little is left to hash at the end.
constexpr std::int64_t HashedPieceBytes = 2 << 20;
// The longest wait for network activity; a Stop wakes the wait at once.
constexpr auto LongestWait = std::chrono::milliseconds(250);

DownloadError failure(Kind kind, bool retryable, std::string_view utf8Detail)
{
    return {kind, retryable, 0, common::gbk(utf8Detail)};
}

class Transfer;

// One request for one part, and what its answer has said so far.
struct Connection
{
    Transfer *owner = nullptr;
    EasyHandle easy;
    HeaderList headers;
    std::unique_ptr<StallWatch> stall;
    std::size_t part = 0;
    std::int64_t requestedFrom = 0; // the offset in the Range line
    AnswerHead head;
    std::optional<AnswerVerdict> verdict; // once the final answer's header is complete
    std::int64_t skip = 0; // bytes to drop first (a whole-file answer to a request from an offset)
    std::int64_t filePos = 0; // file offset of the next byte kept
    std::int64_t answerEnd = Unbounded; // the answer carries no byte at or past this offset
    bool partFull = false; // ended by us because the part is complete
    std::optional<DownloadError> error; // why we ended it
    std::string pending; // received, not yet written
    std::int64_t pendingOffset = 0; // file offset of pending's first byte
};

// Registers the multi handle with the shared state so that Stop can wake the transfer's wait.
class WakeRegistration
{
public:
    WakeRegistration(Download::State &state, CURLM *multi)
        : m_state(state)
    {
        const std::lock_guard lock(m_state.mutex);
        m_state.multi = multi;
    }
    ~WakeRegistration()
    {
        const std::lock_guard lock(m_state.mutex);
        m_state.multi = nullptr;
    }
    WakeRegistration(const WakeRegistration &) = delete;
    WakeRegistration &operator=(const WakeRegistration &) = delete;

private:
    Download::State &m_state;
};

class Transfer
{
public:
    Transfer(Download::State &state, const TaskParam &param, std::string address, Download *task, PartFiles &files)
        : m_state(state)
        , m_param(param)
        , m_address(std::move(address))
        , m_task(task)
        , m_files(files)
        , m_multi(newMultiHandle())
        , m_planner(param.connections, MinPartBytes, std::chrono::milliseconds(std::max(0, param.retryDelayMs)))
        , m_checkpoints(files)
    {
        if (param.expectedSha256)
            m_hasher = std::make_unique<PrefixHasher>(files.fd.get());
    }

    ~Transfer()
    {
        for (const auto &c : m_connections)
            curl_multi_remove_handle(m_multi.get(), c->easy.get());
    }
    Transfer(const Transfer &) = delete;
    Transfer &operator=(const Transfer &) = delete;

    // Nothing when every byte of one version of the file is on disk.
    std::optional<DownloadError> run()
    {
        if (!m_multi)
            return failure(Kind::Network, false, "无法初始化网络连接");
        const WakeRegistration registration(m_state, m_multi.get());
        begin();
        while (!m_failure && !m_state.stop.load()) {
            startParts();
            if (m_planner.allDone())
                return verify();
            int running = 0;
            curl_multi_perform(m_multi.get(), &running);
            // A connection that ended frees its place for a part at once, without waiting for network activity.
            if (collectFinished() > 0)
                continue;
            maybeCheckpoint();
            curl_multi_poll(m_multi.get(), nullptr, 0, waitMs(), nullptr);
        }
        if (!m_failure)
            m_failure = failure(Kind::Stopped, false, "");
        end();
        return m_failure;
    }

    // Whether the partial files let a later start resume: the version is pinned, ranges work (or no answer of
    // this run has said otherwise to the record it resumed) and some data is on disk, and the failure is one
    // that a later attempt may overcome.
    bool worthKeeping() const
    {
        const bool passing = m_failure
            && (m_failure->kind == Kind::Stopped || m_failure->kind == Kind::Disk
                || ((m_failure->kind == Kind::Network || m_failure->kind == Kind::HttpStatus) && m_failure->retryable));
        return passing && (m_rangesWork || !m_confirmed) && total() > 0 && !m_planner.finished(total()).empty();
    }

    static std::size_t onHeader(char *data, std::size_t size, std::size_t count, void *user)
    {
        auto *c = static_cast<Connection *>(user);
        const bool ended = readHeaderLine(c->head, std::string_view(data, size * count));
        if (!ended || isInterim(c->head))
            return size * count;
        char *url = nullptr;
        if (curl_easy_getinfo(c->easy.get(), CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url)
            c->head.version.origin = std::string(originOf(url));
        return c->owner->judge(*c) ? size * count : 0;
    }

    static std::size_t onBody(char *data, std::size_t size, std::size_t count, void *user)
    {
        auto *c = static_cast<Connection *>(user);
        return c->owner->receive(*c, data, size * count);
    }

private:
    std::int64_t total() const { return m_pinned ? m_pinned->total : -1; }

    // Every byte is on disk: the file is what it should be, when the task knows what that is.
    std::optional<DownloadError> verify()
    {
        if (!m_hasher)
            return std::nullopt;
        const auto digest = m_hasher->finish(total());
        if (!digest.has_value())
            m_failure = digest.error();
        else if (digest.value() != *m_param.expectedSha256)
            m_failure = DownloadError{Kind::Checksum, false, 0,
                common::gbk("应为 ") + common::toHex(*m_param.expectedSha256) + common::gbk("，实为 ")
                    + common::toHex(digest.value())};
        return m_failure;
    }

    DownloadError tooLarge(std::string_view utf8What) const
    {
        return DownloadError{Kind::TooLarge, false, 0,
            common::gbk(utf8What) + common::gbk("超过了上限 ") + std::to_string(m_param.maxBytes)
                + common::gbk(" 字节")};
    }

    // A resumed download starts from its record: the recorded version is pinned and only the holes are asked for.
    void begin()
    {
        const auto &resumed = m_files.resumed;
        if (!resumed || resumed->version.total < 0) {
            m_planner.reset({{0, Unbounded}});
            return;
        }
        m_pinned = resumed->version;
        std::vector<ByteRange> holes;
        std::int64_t at = 0;
        std::int64_t have = 0;
        for (const ByteRange &range : resumed->finished) {
            if (range.begin > at)
                holes.push_back({at, range.begin});
            have += range.size();
            at = range.end;
            if (m_hasher)
                m_hasher->written(range.begin, range.size());
        }
        if (at < total())
            holes.push_back({at, total()});
        m_planner.reset(holes);
        m_state.received = have;
    }

    // Judges a complete answer header. False ends the connection.
    bool judge(Connection &c)
    {
        c.verdict = judgeAnswer(c.head, c.requestedFrom, m_pinned);
        switch (c.verdict->kind) {
        case AnswerVerdict::Kind::Range:
            c.answerEnd = c.verdict->end;
            return m_confirmed || pin(c.verdict->version, true);
        case AnswerVerdict::Kind::Whole:
            c.skip = c.requestedFrom;
            c.answerEnd = c.verdict->version.total >= 0 ? c.verdict->version.total : Unbounded;
            return m_confirmed || pin(c.verdict->version, false);
        case AnswerVerdict::Kind::Refused:
            c.error = c.verdict->error;
            return false;
        case AnswerVerdict::Kind::Empty:
        case AnswerVerdict::Kind::Changed:
            return false; // handled once the connection is off the multi handle
        }
        return false;
    }

    // The first answer fixes the version that every later answer must match (a resumed download's record has
    // pinned it already; the answer may add what the record lacked).
    bool pin(const FileVersion &version, bool ranges)
    {
        m_pinned = m_pinned ? merged(*m_pinned, version) : version;
        m_confirmed = true;
        m_rangesWork = ranges && m_pinned->total >= 0;
        if (m_pinned->total < 0)
            return true;
        if (m_param.maxBytes > 0 && m_pinned->total > m_param.maxBytes) {
            m_failure = tooLarge("服务器声明的大小 " + std::to_string(m_pinned->total) + " 字节");
            return false;
        }
        raise(EventTotalSize, static_cast<double>(m_pinned->total));
        if (::ftruncate(m_files.fd.get(), m_pinned->total) != 0) {
            m_failure = diskError(errno);
            return false;
        }
        m_planner.learnTotal(m_pinned->total);
        if (m_rangesWork)
            m_planner.share(m_hasher ? HashedPieceBytes : 0);
        m_checkpoints.submit(record());
        return true;
    }

    static FileVersion merged(FileVersion known, const FileVersion &answer)
    {
        if (answer.total >= 0)
            known.total = answer.total;
        if (!answer.etag.empty())
            known.etag = answer.etag;
        if (!answer.lastModified.empty())
            known.lastModified = answer.lastModified;
        if (!answer.origin.empty())
            known.origin = answer.origin;
        return known;
    }

    std::size_t receive(Connection &c, const char *data, std::size_t bytes)
    {
        if (!c.verdict && isInterim(c.head))
            return bytes; // the body of a redirect is not the file
        if (!c.verdict || c.error)
            return 0;
        std::string_view body(data, bytes);
        const auto dropped = static_cast<std::size_t>(std::min<std::int64_t>(c.skip, static_cast<std::int64_t>(bytes)));
        c.skip -= static_cast<std::int64_t>(dropped);
        body.remove_prefix(dropped);
        const std::int64_t partRoom = m_planner.room(c.part);
        const std::int64_t answerRoom = c.answerEnd - c.filePos;
        const auto take
            = static_cast<std::size_t>(std::min({partRoom, answerRoom, static_cast<std::int64_t>(body.size())}));
        if (m_param.maxBytes > 0 && c.filePos + static_cast<std::int64_t>(take) > m_param.maxBytes) {
            c.error = tooLarge("服务器发送的数据");
            return 0;
        }
        if (take > 0) {
            if (c.pending.empty())
                c.pendingOffset = c.filePos;
            c.pending.append(body.data(), take);
            c.filePos += static_cast<std::int64_t>(take);
            m_planner.advance(c.part, static_cast<std::int64_t>(take));
            m_state.received.fetch_add(static_cast<std::int64_t>(take));
            m_sinceCheckpoint += static_cast<std::int64_t>(take);
        }
        if (m_planner.room(c.part) == 0) {
            c.partFull = true; // returning less than offered makes libcurl end the connection
            flush(c);
            return 0;
        }
        if (take < body.size()) {
            c.error = failure(Kind::Network, true, "服务器发送的数据超出了它声明的范围");
            return 0;
        }
        if (c.pending.size() >= WriteBlockBytes && !flush(c))
            return 0;
        return bytes;
    }

    bool flush(Connection &c)
    {
        const bool written = platform::writeAt(m_files.fd.get(), c.pending, c.pendingOffset);
        if (written && m_hasher)
            m_hasher->written(c.pendingOffset, static_cast<std::int64_t>(c.pending.size()));
        c.pending.clear();
        if (!written) {
            c.error = diskError(errno);
            m_failure = c.error;
        }
        return written;
    }

    void startParts()
    {
        while (!m_failure) {
            const auto index = m_planner.startNext(Clock::now());
            if (!index)
                return;
            open(*index);
        }
    }

    std::vector<std::string> requestLines(std::int64_t from) const
    {
        std::vector<std::string> lines{"Accept: */*", "Referer: " + std::string(refererOf(m_address)),
            std::string("User-Agent: ") + TaskUserAgent, "Range: bytes=" + std::to_string(from) + "-",
            "Pragma: no-cache", "Cache-Control: no-cache", "Connection: close"};
        if (m_pinned && !ifRangeValue(*m_pinned).empty())
            lines.push_back("If-Range: " + ifRangeValue(*m_pinned));
        return lines;
    }

    void open(std::size_t partIndex)
    {
        auto c = std::make_unique<Connection>();
        c->owner = this;
        c->part = partIndex;
        c->requestedFrom = m_planner.part(partIndex).position;
        c->filePos = c->requestedFrom;
        c->easy = newEasyHandle();
        bool ready = static_cast<bool>(c->easy);
        for (const std::string &line : requestLines(c->requestedFrom))
            ready = ready && appendHeader(c->headers, line.c_str());
        if (!ready) {
            m_failure = failure(Kind::Network, false, "内存不足");
            return;
        }
        CURL *h = c->easy.get();
        setRequest(h,
            {m_address.c_str(), CURL_HTTP_VERSION_1_1, c->headers.get(), 10L,
                static_cast<long>(std::max(1, m_param.connectTimeoutMs))});
        c->stall = std::make_unique<StallWatch>(std::chrono::milliseconds(std::max(1, m_param.receiveTimeoutMs)));
        c->stall->attach(h);
        c->pending.reserve(WriteBlockBytes + static_cast<std::size_t>(CURL_MAX_READ_SIZE));
        const int chunk = m_param.alternativeChunkBytes > 0 ? m_param.alternativeChunkBytes : m_param.chunkBytes;
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, static_cast<long>(std::clamp(chunk, 1024, CURL_MAX_READ_SIZE)));
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, c.get());
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, c.get());
        curl_easy_setopt(h, CURLOPT_PRIVATE, c.get());
        curl_multi_add_handle(m_multi.get(), h);
        m_connections.push_back(std::move(c));
    }

    std::unique_ptr<Connection> takeConnection(CURL *easy)
    {
        const auto found = std::find_if(
            m_connections.begin(), m_connections.end(), [easy](const auto &c) { return c->easy.get() == easy; });
        std::unique_ptr<Connection> c = std::move(*found);
        m_connections.erase(found);
        curl_multi_remove_handle(m_multi.get(), easy);
        return c;
    }

    // Takes the connections that have ended off the multi handle; how many.
    int collectFinished()
    {
        int left = 0;
        int ended = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi.get(), &left)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            ++ended;
            const CURLcode result = message->data.result;
            std::unique_ptr<Connection> c = takeConnection(message->easy_handle);
            flush(*c);
            const auto kind = c->verdict ? c->verdict->kind : AnswerVerdict::Kind::Refused;
            if (kind == AnswerVerdict::Kind::Changed) {
                startOver();
                return ended;
            }
            if (kind == AnswerVerdict::Kind::Empty) {
                takeEmptyFile(c->verdict->version);
                return ended;
            }
            finish(*c, result);
            if (m_failure)
                return ended;
        }
        return ended;
    }

    void finish(Connection &c, CURLcode result)
    {
        std::optional<DownloadError> error = c.error;
        if (!error && result != CURLE_OK && !c.partFull)
            error = curlFailure(result);
        if (!error && !c.verdict)
            error = failure(Kind::Network, true, "服务器没有回答");
        if (error && !error->retryable) {
            m_failure = error;
            return;
        }
        switch (m_planner.ended(c.part, c.requestedFrom, !error, Clock::now())) {
        case SegmentPlanner::Ending::Done:
            if (total() < 0)
                learnLengthAtEnd(m_planner.part(c.part).position);
            else
                checkpoint();
            break;
        case SegmentPlanner::Ending::GiveUp:
            m_failure = error ? *error : failure(Kind::Network, true, "多次尝试都没有收到数据");
            break;
        case SegmentPlanner::Ending::Retry:
            break;
        }
    }

    // An answer without a length ended cleanly: what arrived is the file. A partial file resumed from a record
    // without a total may hold more bytes than that, of another version: they go.
    void learnLengthAtEnd(std::int64_t length)
    {
        if (::ftruncate(m_files.fd.get(), length) != 0) {
            m_failure = diskError(errno);
            return;
        }
        if (m_pinned)
            m_pinned->total = length;
        raise(EventTotalSize, static_cast<double>(length));
    }

    // The server has no bytes: an empty file.
    void takeEmptyFile(const FileVersion &version)
    {
        dropConnections();
        if (m_hasher)
            m_hasher->reset();
        m_planner.reset({});
        pin(version, false);
    }

    // Another version answered: the data of the old one goes, and the download starts once more from zero.
    void startOver()
    {
        dropConnections();
        if (m_startedOver) {
            m_failure = failure(Kind::Changed, false, "下载过程中文件一再改变");
            return;
        }
        m_startedOver = true;
        m_pinned.reset();
        m_confirmed = false;
        m_rangesWork = false;
        if (const auto written = m_checkpoints.writeNow({m_address, {}, {}}); !written.has_value()) {
            m_failure = written.error();
            return;
        }
        if (m_hasher)
            m_hasher->reset();
        if (::ftruncate(m_files.fd.get(), 0) != 0) {
            m_failure = diskError(errno);
            return;
        }
        m_state.received = 0;
        m_planner.reset({{0, Unbounded}});
    }

    // Ends every connection; their unwritten data is dropped.
    void dropConnections()
    {
        for (const auto &c : m_connections)
            curl_multi_remove_handle(m_multi.get(), c->easy.get());
        m_connections.clear();
    }

    ControlRecord record() const { return {m_address, *m_pinned, m_planner.finished(total())}; }

    void checkpoint()
    {
        if (total() < 0)
            return;
        for (const auto &c : m_connections)
            flush(*c);
        // The planner counts bytes when they arrive: after a refused write it counts some the disk does not hold.
        if (m_failure)
            return;
        m_checkpoints.submit(record());
        m_lastCheckpoint = Clock::now();
        m_sinceCheckpoint = 0;
    }

    void maybeCheckpoint()
    {
        const bool due = m_sinceCheckpoint >= CheckpointBytes
            || (m_sinceCheckpoint > 0 && Clock::now() - m_lastCheckpoint >= CheckpointInterval);
        if (due)
            checkpoint();
    }

    // After a failure or a stop: the data that arrived is written and recorded, so a later start resumes it.
    void end()
    {
        for (const auto &c : m_connections)
            flush(*c);
        dropConnections();
        if (total() >= 0 && m_failure->kind != Kind::Disk)
            (void)m_checkpoints.writeNow(record());
    }

    int waitMs() const
    {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(LongestWait);
        if (const auto retry = m_planner.nextRetry())
            wait = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(*retry - Clock::now()),
                std::chrono::milliseconds(0), wait);
        return static_cast<int>(wait.count());
    }

    void raise(int code, double value)
    {
        if (m_param.eventRoutine)
            m_param.eventRoutine(code, m_task, value, 0, m_task);
    }

    Download::State &m_state;
    const TaskParam &m_param;
    const std::string m_address;
    Download *m_task;
    PartFiles &m_files;
    MultiHandle m_multi;
    SegmentPlanner m_planner;
    Checkpointer m_checkpoints;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::unique_ptr<PrefixHasher> m_hasher; // with a checksum to meet
    std::optional<FileVersion> m_pinned;
    bool m_confirmed = false; // an answer of this run has matched the pinned version
    bool m_rangesWork = false;
    bool m_startedOver = false;
    std::optional<DownloadError> m_failure;
    Clock::time_point m_lastCheckpoint = Clock::now();
    std::int64_t m_sinceCheckpoint = 0;
};

} // namespace

Download::Outcome transferFile(Download::State &state, const TaskParam &param, Download *task)
{
    const auto address = checkedAddress(param.sourceUrl);
    if (!address.has_value())
        return common::unexpected(address.error());
    const std::filesystem::path wanted
        = param.localFile.empty() ? platform::nativePath(param.localPath) : param.localFile;
    auto files = claimPartFiles(wanted, *address,
        [&param, task] { return !param.eventRoutine || param.eventRoutine(EventNameTaken, task, 0, 0, task) != 1; });
    if (!files.has_value())
        return common::unexpected(files.error());
    std::optional<DownloadError> failed;
    bool keep = false;
    {
        Transfer transfer(state, param, *address, task, files.value());
        failed = transfer.run();
        keep = transfer.worthKeeping();
    }
    if (!failed)
        return publishPartFiles(files.value());
    if (!keep)
        discardPartFiles(files.value());
    return common::unexpected(*failed);
}

void Download::State::wake()
{
    const std::lock_guard lock(mutex);
    if (CURLM *handle = multi.load())
        curl_multi_wakeup(handle);
}

} // namespace download
