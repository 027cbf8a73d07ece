#pragma once

class QThreadPool;

namespace common {

// The threads for tasks that wait on the network (page fetches, link resolution). Qt paints large areas with
// the help of its global pool and waits for it, so tasks waiting there for a silent server would freeze every
// window once they fill that pool. Lives until the process ends. Thread-safe.
QThreadPool &networkPool();

} // namespace common
