// Claims the single instance under the name given as argument. Prints "primary" or "secondary"; a primary
// then waits for the next start to ask it to restore, prints "activated" and exits.
#include "platform/singleinstance.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    platform::SingleInstance instance(QString::fromLocal8Bit(argv[1]));
    if (!instance.claim()) {
        std::puts("secondary");
        return 0;
    }
    std::puts("primary");
    std::fflush(stdout);
    QObject::connect(&instance, &platform::SingleInstance::activationRequested, &app, [] {
        std::puts("activated");
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    QTimer::singleShot(20000, &app, [] { QCoreApplication::exit(3); });
    return QCoreApplication::exec();
}
