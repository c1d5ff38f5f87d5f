#include "ui/qt/desktop_hooks.h"

#include <QDesktopServices>
#include <QFileDialog>

namespace parvelle::ui::qt {

DesktopHooks& desktopHooks() {
    static DesktopHooks hooks{
        [](QWidget* parent, const QString& title, const QString& filter) {
            const QString path = QFileDialog::getOpenFileName(parent, title, {}, filter);
            return path.isEmpty() ? std::nullopt : std::optional<QString>(path);
        },
        [](QWidget* parent, const QString& title, const QString& filter) {
            const QString path = QFileDialog::getSaveFileName(parent, title, {}, filter);
            return path.isEmpty() ? std::nullopt : std::optional<QString>(path);
        },
        [](QWidget* parent, const QString& title) {
            const QString path = QFileDialog::getExistingDirectory(parent, title);
            return path.isEmpty() ? std::nullopt : std::optional<QString>(path);
        },
        [](const QUrl& url) { return QDesktopServices::openUrl(url); },
    };
    return hooks;
}

} // namespace parvelle::ui::qt
