// parvelle: the desktop application.
#include <QApplication>
#include <QTimer>

#include "ui/desktop_services.h"
#include "ui/qt/common.h"
#include "ui/qt/main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Parvelle");
    // A second instance ends silently, leaving the first one as it is.
    parvelle::ui::InstanceLock instance(parvelle::ui::defaultLockPath());
    if (!instance.acquired())
        return 1;
    parvelle::ui::qt::initResources();
    parvelle::ui::qt::MainWindow window;
    window.showMaximized();
    QTimer::singleShot(0, &window, [&window] { window.selectMailbox(); });
    return QApplication::exec();
}
