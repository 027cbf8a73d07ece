#include "download/transfer.h"

#include "common/gbk.h"
#include "download/address.h"
#include "download/answercheck.h"
#include "download/curlhandles.h"
#include "download/disksink.h"
#include "download/httpanswer.h"
#include "download/partfiles.h"
#include "download/segmentplanner.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace download {

namespace {

using Clock = std::chrono::steady_clock;
using Kind = DownloadError::Kind;

constexpr const char *TaskUserAgent = "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)";
constexpr std::int64_t MinPartBytes = 256 * 1024;
constexpr std::int64_t Unbounded = SegmentPlanner::Unbounded;
// With a checksum to meet, the file is fetched in pieces of this size in order, so the prefix that can be
// hashed grows while the download runs and little is left to hash at the end.
constexpr std::int64_t HashedPieceBytes = 2 << 20;
// An expired direct link is resolved again this often at most, each time only after new bytes arrived.
constexpr int MaxRenewals = 32;
// A server that answers ranged requests with the whole file is followed from its byte 0 this often at most.
constexpr int MaxRestarts = 3;
// How often a task with a speed limit looks whether it is ahead of its limit.
constexpr std::chrono::milliseconds PaceInterval(20);
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
    std::string ifRangeSent; // the If-Range value, or empty
    std::string address; // the link it was sent to
    AnswerHead head;
    std::optional<AnswerVerdict> verdict; // once the final answer's header is complete
    std::int64_t skip = 0; // bytes to drop first (a whole-file answer to a request from an offset)
    std::int64_t filePos = 0; // file offset of the next byte kept
    std::int64_t answerEnd = Unbounded; // the answer carries no byte at or past this offset
    bool partFull = false; // ended by us because the part is complete
    std::optional<DownloadError> error; // why we ended it
    DiskSink::Block block; // received, not yet written
};

// Registers the multi handle with the shared state so that Stop can wake the transfer's wait.
class WakeRegistration
{
public:
    WakeRegistration(TaskState &state, CURLM *multi)
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
    TaskState &m_state;
};

class Transfer
{
public:
    Transfer(TaskState &state, const TaskParam &param, std::string address, Download *task, PartFiles &files)
        : m_state(state)
        , m_param(param)
        , m_address(std::move(address))
        , m_task(task)
        , m_files(files)
        , m_multi(newMultiHandle())
        , m_planner(param.connections, MinPartBytes, std::chrono::milliseconds(std::max(0, param.retryDelayMs)))
        , m_sink(files, param.expectedSha256.has_value())
    {
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
            pace();
            if (!multiOk(curl_multi_perform(m_multi.get(), &running)))
                break;
            // A connection that ended frees its place for a part at once, without waiting for network activity.
            if (collectFinished() > 0)
                continue;
            maybeCheckpoint();
            if (!multiOk(curl_multi_poll(m_multi.get(), nullptr, 0, waitMs(), nullptr)))
                break;
        }
        if (!m_failure)
            m_failure = failure(Kind::Stopped, false, "");
        end();
        return m_failure;
    }

    // Whether the partial files let a later start resume: the version is pinned, ranges work (or no answer of
    // this run has said otherwise to the record it resumed) and some data is on disk, and nothing has proven
    // the data wrong. A refusal keeps them too: a link forbidden for a moment must not cost the bytes in hand.
    bool worthKeeping() const
    {
        if (!m_failure)
            return false;
        const bool provenWrong = m_failure->kind == Kind::Checksum || m_failure->kind == Kind::TooLarge;
        return !provenWrong && (m_rangesWork || !m_confirmed) && total() > 0 && !m_planner.finished(total()).empty();
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
        // On a fast link one call of libcurl reads megabytes, far past a low limit: what comes while the task is
        // ahead waits in libcurl, and pace() lets it in once the task is behind again.
        if (c->verdict && c->owner->aheadOfLimit()) {
            c->owner->m_paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        return c->owner->receive(*c, data, size * count);
    }

private:
    std::int64_t total() const { return m_pinned ? m_pinned->total : -1; }

    // A failed call on the multi handle ends the task: the handle is in no state to go on with, and a wait
    // that fails at once, again and again, would turn the loop into a spin.
    bool multiOk(CURLMcode code)
    {
        if (code == CURLM_OK)
            return true;
        if (!m_failure)
            m_failure = DownloadError{
                Kind::Network, false, 0, common::gbk("网络库出错：") + common::gbkFromUtf8(curl_multi_strerror(code))};
        return false;
    }

    // Every byte is on disk: the file is what it should be, when the task knows what that is.
    std::optional<DownloadError> verify()
    {
        if (!m_sink.hashed())
            return std::nullopt;
        const auto digest = m_sink.digest(total());
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

    // A resumed download starts from its record: the recorded version is pinned and only the holes are asked
    // for. A recorded range is believed only when its bytes on disk still give its check; and at least one
    // range is fetched again, so that an answer of this run vouches for the version before the file is published.
    void begin()
    {
        const auto &resumed = m_files.resumed;
        if (!resumed || resumed->version.total <= 0 || !vouchedFor(*resumed) || !m_sink.resume(*resumed)) {
            m_planner.reset({{0, Unbounded}});
            return;
        }
        m_pinned = resumed->version;
        m_planner.reset(m_sink.holes(total()));
        m_state.received = m_sink.believedBytes();
    }

    // Bytes fetched from another address are continued only when a strong ETag pins them: every ranged request
    // sends it through If-Range, and an answer without it starts the file over.
    bool vouchedFor(const ControlRecord &resumed) const
    {
        const std::string &etag = resumed.version.etag;
        return resumed.address == m_address || (!etag.empty() && etag.substr(0, 2) != "W/");
    }

    // Judges an answer. Once the machines of a balanced server have shown different ETags for one file, the
    // ETag is no longer trusted: the total and Last-Modified, which they agree on, pin the file. Without a
    // Last-Modified nothing can pin ranges from several machines: the file starts over on one connection.
    AnswerVerdict verdictOn(const Connection &c)
    {
        const bool untrustedETag = m_etagsFlap && !c.ifRangeSent.empty() && c.ifRangeSent.front() == '"';
        AnswerVerdict verdict
            = judgeAnswer(c.head, c.requestedFrom, m_pinned, untrustedETag ? std::string() : c.ifRangeSent);
        if (verdict.kind == AnswerVerdict::Kind::Changed && m_pinned && onlyETagDiffers(*m_pinned, verdict.version)) {
            m_etagsFlap = true;
            m_pinned->etag.clear();
            verdict = judgeAnswer(c.head, c.requestedFrom, m_pinned, {});
        } else if (verdict.kind == AnswerVerdict::Kind::Changed && m_pinned && !m_etagsFlap
            && onlyETagDiffersWithoutDates(*m_pinned, verdict.version)) {
            m_etagsFlap = true;
            m_oneConnection = true;
        }
        if (m_etagsFlap && verdict.kind == AnswerVerdict::Kind::Anew && sameFile(*m_pinned, verdict.version)) {
            // Another machine refused the If-Range of an ETag it never made: ask again with the date.
            verdict.kind = AnswerVerdict::Kind::Refused;
            verdict.error = failure(Kind::Network, true, "服务器的各台机器给出不同的 ETag");
        }
        return verdict;
    }

    // Judges a complete answer header. False ends the connection.
    bool judge(Connection &c)
    {
        c.verdict = verdictOn(c);
        switch (c.verdict->kind) {
        case AnswerVerdict::Kind::Range:
            c.answerEnd = c.verdict->end;
            return m_confirmed || pin(c.verdict->version, true);
        case AnswerVerdict::Kind::Whole:
            // The whole file from byte 0 is taken only while nothing is in hand, and never cut at a total that
            // this answer did not give.
            if (m_state.received.load() > 0 || (total() >= 0 && c.verdict->version.total < 0)) {
                c.verdict->kind = AnswerVerdict::Kind::Anew;
                return false;
            }
            c.answerEnd = c.verdict->version.total >= 0 ? c.verdict->version.total : Unbounded;
            return m_confirmed || pin(c.verdict->version, false);
        case AnswerVerdict::Kind::Refused:
            c.error = c.verdict->error;
            return false;
        case AnswerVerdict::Kind::Empty:
        case AnswerVerdict::Kind::Changed:
        case AnswerVerdict::Kind::Anew:
            return false; // handled once the connection is off the multi handle
        }
        return false;
    }

    // The first answer fixes the version that every later answer must match (a resumed download's record has
    // pinned it already; the answer may add what the record lacked).
    bool pin(const FileVersion &version, bool ranges)
    {
        m_pinned = m_pinned ? merged(*m_pinned, version) : version;
        if (m_etagsFlap)
            m_pinned->etag.clear();
        m_confirmed = true;
        m_rangesWork = ranges && m_pinned->total >= 0;
        if (m_pinned->total < 0)
            return true;
        if (m_param.maxBytes > 0 && m_pinned->total > m_param.maxBytes) {
            m_failure = tooLarge("服务器声明的大小 " + std::to_string(m_pinned->total) + " 字节");
            return false;
        }
        raise(EventTotalSize, static_cast<double>(m_pinned->total));
        if (const auto sized = m_sink.setLength(m_pinned->total); !sized.has_value()) {
            m_failure = sized.error();
            return false;
        }
        m_planner.learnTotal(m_pinned->total);
        if (m_rangesWork && !m_oneConnection)
            m_planner.share(m_sink.hashed() ? HashedPieceBytes : 0);
        m_sink.checkpoint(record());
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
            const auto added = m_sink.add(c.block, c.filePos, body.substr(0, take));
            c.filePos += static_cast<std::int64_t>(take);
            m_planner.advance(c.part, static_cast<std::int64_t>(take));
            m_state.received.fetch_add(static_cast<std::int64_t>(take));
            if (!added.has_value())
                return diskFailed(c, added.error());
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
        return bytes;
    }

    void flush(Connection &c)
    {
        if (const auto written = m_sink.flush(c.block); !written.has_value())
            diskFailed(c, written.error());
    }

    // The disk refused the connection's bytes: the task ends. Returns 0, which makes libcurl end the connection.
    std::size_t diskFailed(Connection &c, const DownloadError &error)
    {
        c.error = error;
        m_failure = error;
        return 0;
    }

    void startParts()
    {
        while (!m_failure && !m_paused) {
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
        c->ifRangeSent = m_pinned ? ifRangeValue(*m_pinned) : std::string();
        c->address = m_address;
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
                static_cast<long>(std::max(1, m_param.connectTimeoutMs)), &m_param.proxy});
        c->stall = std::make_unique<StallWatch>(std::chrono::milliseconds(std::max(1, m_param.receiveTimeoutMs)));
        c->stall->attach(h);
        c->block = DiskSink::newBlock();
        const int chunk = m_param.alternativeChunkBytes > 0 ? m_param.alternativeChunkBytes : m_param.chunkBytes;
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, static_cast<long>(std::clamp(chunk, 1024, CURL_MAX_READ_SIZE)));
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, c.get());
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, c.get());
        curl_easy_setopt(h, CURLOPT_PRIVATE, c.get());
        if (!multiOk(curl_multi_add_handle(m_multi.get(), h)))
            return;
        m_connections.push_back(std::move(c));
        shareRate();
    }

    // libcurl limits each connection: the task's limit is shared among those that run.
    void shareRate()
    {
        if (m_connections.empty())
            return;
        const auto share = m_limit <= 0
            ? curl_off_t(0)
            : std::max<curl_off_t>(
                1, static_cast<curl_off_t>(m_limit / static_cast<std::int64_t>(m_connections.size())));
        for (const auto &c : m_connections)
            curl_easy_setopt(c->easy.get(), CURLOPT_MAX_RECV_SPEED_LARGE, share);
    }

    std::unique_ptr<Connection> takeConnection(CURL *easy)
    {
        const auto found = std::find_if(
            m_connections.begin(), m_connections.end(), [easy](const auto &c) { return c->easy.get() == easy; });
        std::unique_ptr<Connection> c = std::move(*found);
        m_connections.erase(found);
        (void)multiOk(curl_multi_remove_handle(m_multi.get(), easy));
        shareRate();
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
            if (kind == AnswerVerdict::Kind::Changed || kind == AnswerVerdict::Kind::Anew) {
                startOver(kind == AnswerVerdict::Kind::Anew);
                return ended;
            }
            if (kind == AnswerVerdict::Kind::Empty) {
                takeEmptyFile(c->verdict->version);
                return ended;
            }
            // A request sent to the link that has been replaced meanwhile is simply sent again.
            const bool staleLink = c->address != m_address;
            if (expired(*c) && (staleLink || renewAddress())) {
                if (!staleLink && !strongPin()) {
                    startOver(true);
                    return ended;
                }
                m_planner.ended(c->part, c->requestedFrom, false, Clock::now());
                continue;
            }
            finish(*c, result);
            if (m_failure)
                return ended;
        }
        return ended;
    }

    // A direct link refused in mid-download: it may have expired.
    bool expired(const Connection &c) const
    {
        const bool refused = c.verdict && c.verdict->kind == AnswerVerdict::Kind::Refused;
        return refused && m_confirmed && (c.head.status == 403 || c.head.status == 410);
    }

    // Asks for a fresh link in place of an expired one; true when there is one to go on with.
    bool renewAddress()
    {
        const std::int64_t received = m_state.received.load();
        if (!m_param.freshAddress || m_renewals >= MaxRenewals || received <= m_receivedAtRenewal)
            return false;
        const auto fresh = checkedAddress(m_param.freshAddress());
        if (!fresh.has_value() || fresh.value() == m_address)
            return false;
        // Connections still running on the old link go on; every request from now on uses the fresh one.
        m_address = fresh.value();
        ++m_renewals;
        m_receivedAtRenewal = received;
        return true;
    }

    // The bytes in hand may be continued from another address: a strong ETag pins them, and every ranged
    // request sends it through If-Range.
    bool strongPin() const { return m_pinned && !m_pinned->etag.empty() && m_pinned->etag.substr(0, 2) != "W/"; }

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
        const auto now = Clock::now();
        switch (m_planner.ended(c.part, c.requestedFrom, !error, now, askedWait(c))) {
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
            if (error && m_param.retryScheduled)
                m_param.retryScheduled(
                    std::chrono::duration_cast<std::chrono::milliseconds>(m_planner.part(c.part).retryAt - now));
            break;
        }
    }

    // The wait a busy server asked for with its answer, if any.
    static std::chrono::milliseconds askedWait(const Connection &c)
    {
        if (c.head.status != 429 && c.head.status != 503)
            return {};
        return parseRetryAfter(c.head.retryAfter, std::chrono::system_clock::now())
            .value_or(std::chrono::milliseconds());
    }

    // An answer without a length ended cleanly: what arrived is the file. A partial file resumed from a record
    // without a total may hold more bytes than that, of another version: they go.
    void learnLengthAtEnd(std::int64_t length)
    {
        if (const auto sized = m_sink.setLength(length); !sized.has_value()) {
            m_failure = sized.error();
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
        m_sink.forget();
        m_planner.reset({});
        pin(version, false);
    }

    // Another version answered, or a whole file where a range was asked for (`anew`): the data in hand goes,
    // and the download starts once more from zero.
    void startOver(bool anew)
    {
        dropConnections();
        if (anew ? m_restarts >= MaxRestarts : m_changes > 0) {
            m_failure = failure(Kind::Changed, false, "下载过程中文件一再改变");
            return;
        }
        (anew ? m_restarts : m_changes) += 1;
        m_pinned.reset();
        m_confirmed = false;
        m_rangesWork = false;
        m_receivedAtRenewal = 0;
        if (const auto emptied = m_sink.startOver(m_address); !emptied.has_value()) {
            m_failure = emptied.error();
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

    // The record of what is on disk: each stretch written, with its check.
    ControlRecord record() const { return m_sink.record(m_address, *m_pinned); }

    void checkpoint()
    {
        if (total() < 0)
            return;
        for (const auto &c : m_connections)
            flush(*c);
        // The planner counts bytes when they arrive: after a refused write it counts some the disk does not hold.
        if (m_failure)
            return;
        m_sink.checkpoint(record());
    }

    void maybeCheckpoint()
    {
        if (m_sink.checkpointDue())
            checkpoint();
    }

    // After a failure or a stop: the data that arrived is written and recorded, so a later start resumes it.
    void end()
    {
        for (const auto &c : m_connections)
            flush(*c);
        dropConnections();
        if (total() >= 0 && m_failure->kind != Kind::Disk)
            (void)m_sink.checkpointNow(record());
    }

    // With a speed limit, the task's bytes keep to it in all: libcurl's own limit holds each connection to its
    // share, but lets connections catch up whenever the shares change; all of them pause while the task is ahead.
    void pace()
    {
        followLimit();
        const bool ahead = aheadOfLimit();
        if (ahead == m_paused)
            return;
        m_paused = ahead;
        for (const auto &c : m_connections)
            curl_easy_pause(c->easy.get(), ahead ? CURLPAUSE_RECV : CURLPAUSE_CONT);
    }

    // Whether the task has received more than its limit allows since the pace began.
    bool aheadOfLimit()
    {
        if (m_limit <= 0)
            return false;
        const auto now = Clock::now();
        const std::int64_t received = m_state.received.load();
        if (m_paceBase < 0) {
            m_paceBase = received;
            m_paceStart = now;
        }
        const double allowed = std::chrono::duration<double>(now - m_paceStart).count() * static_cast<double>(m_limit);
        return static_cast<double>(received - m_paceBase) > allowed;
    }

    // The task's own limit, or its part of a shared one, or the lower of the two.
    std::int64_t currentLimit() const
    {
        const std::int64_t shared = m_param.sharedLimit ? m_param.sharedLimit->share() : 0;
        if (shared > 0 && m_param.maxBytesPerSecond > 0)
            return std::min(shared, m_param.maxBytesPerSecond);
        return shared > 0 ? shared : std::max<std::int64_t>(0, m_param.maxBytesPerSecond);
    }

    // A shared limit changes while the task runs: the pace starts afresh from the new one.
    void followLimit()
    {
        const std::int64_t limit = currentLimit();
        if (limit == m_limit)
            return;
        m_limit = limit;
        m_paceBase = -1;
        shareRate();
        if (m_paused && m_limit <= 0) {
            m_paused = false;
            for (const auto &c : m_connections)
                curl_easy_pause(c->easy.get(), CURLPAUSE_CONT);
        }
    }

    int waitMs() const
    {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(LongestWait);
        if (m_limit > 0 || m_param.sharedLimit)
            wait = std::min(wait, PaceInterval);
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

    TaskState &m_state;
    const TaskParam &m_param;
    std::string m_address; // a fresh link may replace an expired one
    Download *m_task;
    PartFiles &m_files;
    MultiHandle m_multi;
    SegmentPlanner m_planner;
    DiskSink m_sink;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::optional<FileVersion> m_pinned;
    bool m_confirmed = false; // an answer of this run has matched the pinned version
    bool m_rangesWork = false;
    int m_changes = 0; // answers of another version
    int m_restarts = 0; // whole files in answer to a range
    Clock::time_point m_paceStart;
    std::int64_t m_paceBase = -1; // bytes in hand when the pace began
    bool m_paused
        = false; // the task is ahead of its speed limit: its connections are paused, or pause at their next bytes
    std::int64_t m_limit = currentLimit(); // bytes per second; 0: none
    int m_renewals = 0;
    std::int64_t m_receivedAtRenewal = 0;
    bool m_etagsFlap = false; // the server's machines give one file different ETags
    bool m_oneConnection = false; // and nothing else pins it: ranges are not shared
    std::optional<DownloadError> m_failure;
};

} // namespace

common::Result<std::filesystem::path, DownloadError> transferFile(
    TaskState &state, const TaskParam &param, Download *task)
{
    const auto address = checkedAddress(param.sourceUrl);
    if (!address.has_value())
        return common::unexpected(address.error());
    if (auto problem = proxyProblem(param.proxy))
        return common::unexpected(*problem);
    const SpeedLimit::Share limitShare(param.sharedLimit.get());
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
    else if (failed->kind != Kind::Stopped)
        noteKept(*failed);
    return common::unexpected(*failed);
}

} // namespace download
