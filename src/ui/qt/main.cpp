// parvelle: the desktop application.
#include <QApplication>
#include <QTimer>
#include <atomic>
#include <csignal>

#include "platform/datetime.h"
#include "ui/desktop_services.h"
#include "ui/qt/common.h"
#include "ui/qt/main_window.h"

namespace {

std::atomic<int> g_terminate{0};

extern "C" void onTerminate(int) {
    g_terminate.store(1);
}

} // namespace

int main(int argc, char** argv) {
    parvelle::platform::pinSystemTimeZone();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Parvelle");
    // A second instance ends silently, leaving the first one as it is.
    parvelle::ui::InstanceLock instance(parvelle::ui::defaultLockPath());
    if (!instance.acquired())
        return 1;
    parvelle::ui::qt::initResources();
    parvelle::ui::qt::MainWindow window;

    // Asked to end (log-out, kill): a running job is stopped and allowed to finish first, then
    // the working folder goes with the window.
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
    QTimer terminateCheck;
    QObject::connect(&terminateCheck, &QTimer::timeout, &window, [&window, &terminateCheck] {
        if (g_terminate.load() == 0)
            return;
        terminateCheck.stop();
        window.endSession();
        QApplication::exit(0);
    });
    terminateCheck.start(200);

    window.showMaximized();
    QTimer::singleShot(0, &window, [&window] { window.selectMailbox(); });
    return QApplication::exec();
}
