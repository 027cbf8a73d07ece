#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <functional>
#include <memory>

namespace common {

// Lets any thread hand work to an object that lives on the UI thread, even when that object may be destroyed
// before the work arrives: the work then is dropped. Copies share one channel; create it on the UI thread.
template <typename Target> class Relay
{
public:
    explicit Relay(Target *target)
        : m_target(std::make_shared<QPointer<Target>>(target))
    {
    }

    // Thread-safe. `work` runs later on the UI thread, with the target, if it still exists. The work goes
    // through the application object, which outlives every window, so nothing here can dangle.
    void post(std::function<void(Target &)> work) const
    {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [target = m_target, work = std::move(work)] {
                if (*target)
                    work(**target);
            },
            Qt::QueuedConnection);
    }

private:
    std::shared_ptr<QPointer<Target>> m_target; // the pointer is read on the UI thread only
};

} // namespace common
