#include "downloads/queue.h"

namespace downloads {

struct Queue::Shared
{
};

Queue::Queue(std::filesystem::path, Resolver, QueueOptions)
    : m_shared(std::make_shared<Shared>())
{
}

Queue::~Queue() = default;

std::uint64_t Queue::add(const std::string &, const std::filesystem::path &, std::optional<common::Sha256Digest>)
{
    return 0;
}

void Queue::pause(std::uint64_t) { }
void Queue::resume(std::uint64_t) { }
void Queue::retry(std::uint64_t) { }
void Queue::remove(std::uint64_t, bool) { }
void Queue::setOptions(const QueueOptions &) { }
QueueOptions Queue::options() const
{
    return {};
}
std::vector<Item> Queue::items() const
{
    return {};
}
void Queue::restore() { }
void Queue::setEndedHandler(std::function<void(const Item &)>) { }
std::string Queue::storeProblem() const
{
    return {};
}

std::filesystem::path storeFile(const std::filesystem::path &dataFolder)
{
    return dataFolder / "下载列表";
}

StoreContents readStore(const std::filesystem::path &)
{
    return {};
}

} // namespace downloads
