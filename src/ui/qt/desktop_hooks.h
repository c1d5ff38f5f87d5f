#pragma once
// The desktop facilities the widgets reach through one replaceable object: file and folder
// choosers and opening a file or web page with the desktop's default application. The tests
// script them; the application uses the toolkit's dialogs and launcher.
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QWidget;

namespace parvelle::ui::qt {

struct DesktopHooks {
    // A file to open, filtered (e.g. "The OLM Files (*.olm *.OLM)"); nothing when cancelled.
    std::function<std::optional<QString>(QWidget*, const QString& title, const QString& filter)>
        openFile;
    // A file to save to, asking before replacing one; nothing when cancelled.
    std::function<std::optional<QString>(QWidget*, const QString& title, const QString& filter)>
        saveFile;
    // A folder; nothing when cancelled.
    std::function<std::optional<QString>(QWidget*, const QString& title)> folder;
    // Opens a file or web page with the desktop's default application.
    std::function<bool(const QUrl&)> openUrl;
};

// The hooks in use; starts with the toolkit's dialogs and launcher.
DesktopHooks& desktopHooks();

} // namespace parvelle::ui::qt
