#include "common/networkpool.h"

#include <QThreadPool>

namespace common {

namespace {

// Enough for every wait the program starts at once: the announcement fill, the version check, a list refresh,
// the netdisk tool and a feedback mail.
constexpr int NetworkThreads = 8;

} // namespace

QThreadPool &networkPool()
{
    // Never destroyed: a pool's destructor waits for its tasks, and the program does not wait on the network
    // when it ends (it stops the fetches and waits for their tasks itself).
    static QThreadPool *const pool = [] {
        auto *created = new QThreadPool;
        created->setMaxThreadCount(NetworkThreads);
        return created;
    }();
    return *pool;
}

} // namespace common
