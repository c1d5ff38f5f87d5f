#pragma once
// Drives modal dialogs by script: each step waits until a modal window with the given object
// name is on top, then acts on it (checks, clicks, grabs). Other modal windows (progress boxes)
// are left alone. Used by the widget tests and the screenshot tool.
#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>

class QTreeWidgetItem;
class QWidget;

namespace parvelle::ui::qt {

class ModalScript : public QObject {
    Q_OBJECT
public:
    using Action = std::function<void(QWidget*)>;
    explicit ModalScript(QObject* parent = nullptr);

    // Adds a step for the modal window named `objectName`.
    ModalScript& on(const QString& objectName, Action action);
    bool done() const { return steps_.empty(); }
    int pending() const { return static_cast<int>(steps_.size()); }
    // Names of the modal windows the steps acted on, in order.
    const QStringList& seen() const { return seen_; }

    // Clicks the child button with this object name (visible or not).
    static void click(QWidget* window, const QString& buttonName);

private:
    void poll();

    struct Step {
        QString name;
        Action action;
    };
    std::deque<Step> steps_;
    QStringList seen_;
    QTimer timer_;
};

// Processes events until `done` holds (true) or `milliseconds` pass (false).
bool processEventsUntil(const std::function<bool()>& done, int milliseconds,
                        int sliceMilliseconds = 5);

// The item under `item` (itself included) whose first column reads `text`, depth first.
QTreeWidgetItem* findNode(QTreeWidgetItem* item, const QString& text);

} // namespace parvelle::ui::qt
