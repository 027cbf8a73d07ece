#include "downloads/queue.h"

#include "common/gbk.h"
#include "download/download.h"
#include "download/naming.h"
#include "download/partfiles.h"
#include "download/progress.h"
#include "downloads/store.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

namespace downloads {

namespace {

using Clock = std::chrono::steady_clock;

// How often a running download's progress is looked at, and how often the store follows it.
constexpr auto SampleInterval = std::chrono::milliseconds(250);
constexpr auto StoreInterval = std::chrono::seconds(5);

// Why a running download is told to stop.
enum class StopReason
{
    None,
    Pause,
    Remove,
    Quit
};

// One running download: its worker thread, and the task that it starts and watches.
struct Task
{
    std::mutex mutex;
    std::condition_variable wake;
    StopReason stop = StopReason::None; // guarded by mutex
    bool deleteFiles = false; // guarded by mutex; with StopReason::Remove
    bool ended = false; // guarded by mutex: event 4 came
    std::atomic<double> total{0};
    std::atomic<std::int64_t> receivedAtEnd{-1}; // event 4's count; -1 until the task ended
    std::thread thread;
    std::atomic<bool> done{false}; // the worker has nothing left to do but return
    download::Download download; // last: its thread ends before the members its event routine touches go

    void requestStop(StopReason why, bool deleting = false)
    {
        const std::lock_guard lock(mutex);
        stop = why;
        deleteFiles = deleting;
        wake.notify_all();
    }
};

struct Entry
{
    Item item;
    std::shared_ptr<Task> task; // while running
    bool resumeWanted = false; // continued while its pause was still stopping the task
};

void removeFiles(const Item &item)
{
    if (item.file.empty())
        return;
    // Asked for by the user's remove: a file that is gone already is fine; one that cannot go stays on the disk,
    // and the entry leaves the list all the same.
    if (item.state == State::Finished)
        (void)platform::removeFile(item.file);
    else
        for (const auto &partial : download::partialFileNames(item.file))
            (void)platform::removeFile(partial);
}

std::string reasonOf(const download::ShareResolution &resolution)
{
    if (!resolution.supported)
        return common::gbk("分享页面打不开，或不是支持的网盘分享地址");
    return common::gbk("分享页面中没有找到下载直链");
}

} // namespace

struct Queue::Shared
{
    std::filesystem::path store;
    Resolver resolve;
    std::shared_ptr<download::SpeedLimit> limit = std::make_shared<download::SpeedLimit>();

    mutable std::mutex mutex; // guards everything below
    QueueOptions options;
    std::vector<Entry> entries;
    std::vector<std::shared_ptr<Task>> tasks; // every worker not yet joined
    std::uint64_t nextId = 1;
    std::function<void(const Item &)> endedHandler;
    std::string readProblem; // why the store could not be read at restore(), GBK
    std::string writeProblem; // why the last write failed, GBK
    bool restored = false;
    bool quitting = false;
    Clock::time_point lastProgressSave = Clock::now(); // the last write that only kept the running ones' progress
    std::weak_ptr<Shared> weak; // this, for the workers that schedule the next download

    std::mutex storeMutex; // one write of the store at a time, each from a fresh snapshot

    Entry *find(std::uint64_t id)
    {
        const auto found
            = std::find_if(entries.begin(), entries.end(), [id](const Entry &e) { return e.item.id == id; });
        return found == entries.end() ? nullptr : &*found;
    }

    // Starts waiting downloads, in list order, while places are free. With `mutex` held.
    void schedule(const std::shared_ptr<Shared> &self)
    {
        if (quitting)
            return;
        reapTasks();
        const auto running = static_cast<int>(
            std::count_if(entries.begin(), entries.end(), [](const Entry &e) { return e.task != nullptr; }));
        int free = std::max(1, options.concurrency) - running;
        for (Entry &entry : entries) {
            if (free <= 0)
                break;
            if (entry.item.state != State::Waiting || entry.task)
                continue;
            start(self, entry);
            --free;
        }
    }

    void start(const std::shared_ptr<Shared> &self, Entry &entry)
    {
        auto task = std::make_shared<Task>();
        entry.item.state = State::Running;
        entry.item.reason.clear();
        entry.task = task;
        tasks.push_back(task);
        try {
            task->thread = std::thread([self, task, id = entry.item.id] { self->work(task, id); });
        } catch (const std::system_error &error) {
            entry.task = nullptr;
            tasks.pop_back();
            entry.item.state = State::Failed;
            entry.item.reason = common::gbk("无法启动下载线程：") + common::gbkFromUtf8(error.what());
        }
    }

    // Joins the workers that are done, except the caller's own. With `mutex` held: a done worker takes it no more.
    void reapTasks()
    {
        const auto self = std::this_thread::get_id();
        std::erase_if(tasks, [self](const std::shared_ptr<Task> &task) {
            if (!task->done.load() || task->thread.get_id() == self)
                return false;
            task->thread.join();
            return true;
        });
    }

    std::vector<Item> snapshot() const
    {
        std::vector<Item> items;
        items.reserve(entries.size());
        for (const Entry &entry : entries)
            items.push_back(entry.item);
        return items;
    }

    // Writes the list as it is now. Not with `mutex` held.
    void save()
    {
        const std::lock_guard storeLock(storeMutex);
        std::vector<Item> items;
        {
            const std::lock_guard lock(mutex);
            items = snapshot();
        }
        auto written = platform::makeFolders(store.parent_path());
        if (written.has_value())
            written = platform::replaceFile(store, formatStore(items), {});
        const std::string problem = written.has_value()
            ? std::string()
            : common::gbk("下载列表无法保存：") + common::gbkFromUtf8(written.error().describe());
        const std::lock_guard lock(mutex);
        writeProblem = problem;
    }

    // The worker of one download, on its own thread.
    void work(const std::shared_ptr<Task> &task, std::uint64_t id)
    {
        std::optional<download::TaskParam> param = prepare(task, id);
        if (param) {
            download::SpeedMeter meter;
            if (task->download.Start(*param))
                watch(*task, id, meter);
            else
                fail(id, common::gbk("无法启动下载任务"));
        }
        finish(task, id);
    }

    // Reads the share page and chooses the file; the task's parameters, or nothing when it cannot start.
    std::optional<download::TaskParam> prepare(const std::shared_ptr<Task> &task, std::uint64_t id)
    {
        std::string share;
        {
            const std::lock_guard lock(mutex);
            share = find(id)->item.shareAddress;
        }
        const download::ShareResolution resolution = resolve ? resolve(share) : download::ShareResolution{};
        if (stopRequested(*task))
            return std::nullopt;
        const std::lock_guard lock(mutex);
        Item &item = find(id)->item;
        if (!resolution.directLink.empty())
            item.directLink = resolution.directLink;
        if (item.directLink.empty()) {
            item.state = State::Failed;
            item.reason = reasonOf(resolution);
            return std::nullopt;
        }
        if (item.file.empty() && !chooseFile(item, resolution.facts.name))
            return std::nullopt;
        download::TaskParam param = download::toolTaskParam(item.directLink, item.file,
            [raw = task.get()](int code, download::Download *, double value, int, download::Download *) {
                if (code == download::EventTotalSize)
                    raw->total = value;
                if (code == download::EventEnded) {
                    raw->receivedAtEnd = static_cast<std::int64_t>(value);
                    const std::lock_guard taskLock(raw->mutex);
                    raw->ended = true;
                    raw->wake.notify_all();
                }
                return 0;
            });
        param.expectedSha256 = item.sha256;
        param.sharedLimit = limit;
        param.proxy = options.proxy;
        // A direct link that expires in mid-download is found again on the share page; the task keeps its bytes.
        param.freshAddress = [resolver = resolve, share] { return resolver ? resolver(share).directLink : ""; };
        return param;
    }

    // A free name in the item's folder for the share's file: neither on disk, nor partly downloaded, nor another
    // download's. With `mutex` held.
    bool chooseFile(Item &item, const std::string &shareName)
    {
        const std::string wanted = platform::nativePath(download::safeFileName(shareName)).string();
        const auto taken = [this, &item](const std::string &name) {
            const std::filesystem::path file = item.folder / name;
            std::error_code error;
            if (std::filesystem::exists(file, error)
                || std::filesystem::exists(file.string() + download::PartSuffix, error))
                return true;
            return std::any_of(entries.begin(), entries.end(), [&file](const Entry &e) { return e.item.file == file; });
        };
        const auto name = download::firstFreeName(wanted, taken);
        if (!name) {
            item.state = State::Failed;
            item.reason = common::gbk("保存文件夹中没有可用的文件名");
            return false;
        }
        item.file = item.folder / *name;
        item.name = platform::gbkPath(*name);
        return true;
    }

    bool stopRequested(Task &task)
    {
        const std::lock_guard lock(task.mutex);
        return task.stop != StopReason::None;
    }

    // Whether a write that keeps the running downloads' progress is due, and if so, that it is taken: one such
    // write per interval for the whole list, however many downloads run.
    bool takeProgressSave()
    {
        const std::lock_guard lock(mutex);
        const auto now = Clock::now();
        if (now - lastProgressSave < StoreInterval)
            return false;
        lastProgressSave = now;
        return true;
    }

    // Follows the running task until it ends, stopping it when asked.
    void watch(Task &task, std::uint64_t id, download::SpeedMeter &meter)
    {
        for (;;) {
            bool ended = false;
            bool stop = false;
            {
                std::unique_lock lock(task.mutex);
                task.wake.wait_for(
                    lock, SampleInterval, [&task] { return task.ended || task.stop != StopReason::None; });
                ended = task.ended;
                stop = task.stop != StopReason::None;
            }
            if (ended)
                return;
            if (stop) {
                task.download.Stop();
                return;
            }
            sample(task, id, meter);
            if (takeProgressSave())
                save();
        }
    }

    void sample(Task &task, std::uint64_t id, download::SpeedMeter &meter)
    {
        const std::int64_t received = task.download.Received();
        meter.add(Clock::now(), received);
        const std::lock_guard lock(mutex);
        if (Entry *entry = find(id)) {
            entry->item.received = received;
            if (task.total.load() > 0)
                entry->item.size = static_cast<std::int64_t>(task.total.load());
            entry->item.bytesPerSecond = meter.bytesPerSecond();
        }
    }

    void fail(std::uint64_t id, std::string reason)
    {
        const std::lock_guard lock(mutex);
        Item &item = find(id)->item;
        item.state = State::Failed;
        item.reason = std::move(reason);
    }

    // What became of the download: the entry's new state, the store, the next waiting one, the handler.
    void finish(const std::shared_ptr<Task> &task, std::uint64_t id)
    {
        StopReason stop = StopReason::None;
        bool deleteFiles = false;
        {
            const std::lock_guard lock(task->mutex);
            stop = task->stop;
            deleteFiles = task->deleteFiles;
        }
        std::optional<Item> ended;
        Item item;
        std::function<void(const Item &)> handler;
        {
            const std::lock_guard lock(mutex);
            Entry *entry = find(id);
            conclude(*entry, *task, stop);
            if (entry->item.state == State::Paused && std::exchange(entry->resumeWanted, false))
                entry->item.state = State::Waiting;
            item = entry->item;
            if (stop != StopReason::Remove) {
                entry->task = nullptr;
                if (item.state == State::Finished || item.state == State::Failed)
                    ended = item;
            }
            handler = endedHandler;
        }
        if (stop == StopReason::Remove) {
            // The files go first, so that a download gone from the list has no files left to go.
            if (deleteFiles)
                removeFiles(item);
            const std::lock_guard lock(mutex);
            std::erase_if(entries, [id](const Entry &e) { return e.item.id == id; });
        }
        save();
        if (ended && handler)
            handler(*ended);
        const std::lock_guard lock(mutex);
        task->done = true;
        schedule(weak.lock());
    }

    // The item after its task ended. With `mutex` held.
    static void conclude(Entry &entry, Task &task, StopReason stop)
    {
        Item &item = entry.item;
        item.bytesPerSecond = 0;
        if (task.total.load() > 0)
            item.size = static_cast<std::int64_t>(task.total.load());
        if (task.receivedAtEnd.load() >= 0)
            item.received = task.receivedAtEnd.load();
        if (item.state == State::Failed) // it never started
            return;
        const auto error = task.download.lastError();
        const bool stopped = !error || error->kind == download::DownloadError::Kind::Stopped;
        if (!task.download.lastSucceeded() && stopped && stop != StopReason::None) {
            // Paused: continued by resume(). Quit: still running in the store, so that restore() continues it.
            item.state = stop == StopReason::Pause ? State::Paused : State::Running;
            return;
        }
        if (task.download.lastSucceeded()) {
            item.state = State::Finished;
            item.file = task.download.lastPath();
            item.name = platform::gbkPath(item.file.filename());
            item.received = item.size;
            return;
        }
        item.state = State::Failed;
        item.reason = error ? download::describeDownloadError(*error) : common::gbk("下载没有完成");
    }
};

int percentOf(const Item &item)
{
    // A finished file is whole even when no size was announced; more bytes than announced show as full.
    if (item.state == State::Finished)
        return 100;
    return std::clamp(download::progressView(item.received, static_cast<double>(item.size)).barPosition, 0, 100);
}

Queue::Queue(std::filesystem::path store, Resolver resolve, QueueOptions options)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->weak = m_shared;
    m_shared->store = std::move(store);
    m_shared->resolve = std::move(resolve);
    m_shared->options = options;
    m_shared->limit->set(options.maxBytesPerSecond);
}

Queue::~Queue()
{
    std::vector<std::shared_ptr<Task>> tasks;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->quitting = true;
        tasks = m_shared->tasks;
        for (const Entry &entry : m_shared->entries) {
            if (entry.task)
                entry.task->requestStop(StopReason::Quit);
        }
    }
    for (const auto &task : tasks)
        task->thread.join();
}

std::uint64_t Queue::add(
    const std::string &shareAddress, const std::filesystem::path &folder, std::optional<common::Sha256Digest> sha256)
{
    std::uint64_t id = 0;
    {
        const std::lock_guard lock(m_shared->mutex);
        id = m_shared->nextId++;
        Item item;
        item.id = id;
        item.shareAddress = shareAddress;
        item.name = shareAddress;
        item.folder = folder;
        item.sha256 = sha256;
        m_shared->entries.push_back({std::move(item), nullptr});
    }
    m_shared->save();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->schedule(m_shared);
    return id;
}

void Queue::pause(std::uint64_t id)
{
    {
        const std::lock_guard lock(m_shared->mutex);
        Entry *entry = m_shared->find(id);
        if (!entry || (entry->item.state != State::Waiting && entry->item.state != State::Running))
            return;
        if (entry->task) {
            entry->resumeWanted = false;
            entry->task->requestStop(StopReason::Pause);
            return; // the worker writes the store once the task has stopped
        }
        entry->item.state = State::Paused;
    }
    m_shared->save();
}

void Queue::resume(std::uint64_t id)
{
    {
        const std::lock_guard lock(m_shared->mutex);
        Entry *entry = m_shared->find(id);
        if (entry && entry->task && entry->item.state == State::Running)
            entry->resumeWanted = true; // if a pause is stopping it, it waits for its turn again instead
        if (!entry || entry->item.state != State::Paused || entry->task)
            return;
        entry->item.state = State::Waiting;
    }
    m_shared->save();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->schedule(m_shared);
}

void Queue::retry(std::uint64_t id)
{
    {
        const std::lock_guard lock(m_shared->mutex);
        Entry *entry = m_shared->find(id);
        if (!entry || entry->item.state != State::Failed || entry->task)
            return;
        entry->item.state = State::Waiting;
        entry->item.reason.clear();
        // A file that appeared under its name meanwhile stays untouched: the download chooses a free name again.
        std::error_code error;
        if (!entry->item.file.empty() && std::filesystem::exists(entry->item.file, error))
            entry->item.file.clear();
    }
    m_shared->save();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->schedule(m_shared);
}

void Queue::remove(std::uint64_t id, bool deleteFile)
{
    std::optional<Item> removed;
    {
        const std::lock_guard lock(m_shared->mutex);
        Entry *entry = m_shared->find(id);
        if (!entry)
            return;
        if (entry->task) {
            entry->task->requestStop(StopReason::Remove, deleteFile);
            return; // the worker takes it off the list once the task has stopped
        }
        removed = entry->item;
        m_shared->entries.erase(m_shared->entries.begin() + (entry - m_shared->entries.data()));
    }
    if (deleteFile)
        removeFiles(*removed);
    m_shared->save();
}

void Queue::setOptions(const QueueOptions &options)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->options = options;
    m_shared->limit->set(options.maxBytesPerSecond);
    m_shared->schedule(m_shared);
}

QueueOptions Queue::options() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->options;
}

std::vector<Item> Queue::items() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->snapshot();
}

void Queue::restore()
{
    const std::filesystem::path store = m_shared->store;
    StoreContents contents = readStore(store);
    if (!contents.problem.empty()) {
        // What could not be read stays beside the store for the user, before the next write replaces it.
        if (const auto bytes = platform::readWhole(store, {16u << 20}); bytes.has_value())
            (void)platform::replaceFile(store.string() + ".damaged", *bytes, {});
    }
    {
        const std::lock_guard lock(m_shared->mutex);
        if (m_shared->restored)
            return;
        m_shared->restored = true;
        std::vector<Entry> restored;
        for (Item &item : contents.items) {
            item.bytesPerSecond = 0;
            if (item.state == State::Running)
                item.state = State::Waiting;
            if (m_shared->find(item.id))
                item.id = 0;
            restored.push_back({std::move(item), nullptr});
        }
        for (const Entry &entry : restored)
            m_shared->nextId = std::max(m_shared->nextId, entry.item.id + 1);
        for (Entry &entry : restored) {
            if (entry.item.id == 0)
                entry.item.id = m_shared->nextId++;
        }
        m_shared->entries.insert(m_shared->entries.begin(), std::make_move_iterator(restored.begin()),
            std::make_move_iterator(restored.end()));
        m_shared->readProblem = contents.problem;
    }
    m_shared->save();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->schedule(m_shared);
}

void Queue::setEndedHandler(std::function<void(const Item &)> handler)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->endedHandler = std::move(handler);
}

std::string Queue::storeProblem() const
{
    const std::lock_guard lock(m_shared->mutex);
    if (m_shared->readProblem.empty() || m_shared->writeProblem.empty())
        return m_shared->readProblem + m_shared->writeProblem;
    return m_shared->readProblem + common::gbk("；") + m_shared->writeProblem;
}

} // namespace downloads
