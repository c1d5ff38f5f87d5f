#include "ui/qt/modal_script.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidgetItem>
#include <QWidget>

namespace parvelle::ui::qt {

ModalScript::ModalScript(QObject* parent) : QObject(parent) {
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, &ModalScript::poll);
    timer_.start();
}

ModalScript& ModalScript::on(const QString& objectName, Action action) {
    steps_.push_back({objectName, std::move(action)});
    return *this;
}

void ModalScript::click(QWidget* window, const QString& buttonName) {
    if (auto* button = window->findChild<QAbstractButton*>(buttonName))
        button->click();
}

void ModalScript::poll() {
    if (steps_.empty())
        return;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || modal->objectName() != steps_.front().name)
        return;
    Step step = std::move(steps_.front());
    steps_.pop_front();
    seen_ << step.name;
    // Run outside the timer's slot: an action that opens another modal window blocks until it
    // closes, and the timer must keep polling for that window's own step meanwhile.
    QTimer::singleShot(0, this, [modal, step] { step.action(modal); });
}

bool processEventsUntil(const std::function<bool()>& done, int milliseconds,
                        int sliceMilliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, sliceMilliseconds);
    }
    return true;
}

QTreeWidgetItem* findNode(QTreeWidgetItem* item, const QString& text) {
    if (item->text(0) == text)
        return item;
    for (int i = 0; i < item->childCount(); ++i)
        if (QTreeWidgetItem* found = findNode(item->child(i), text))
            return found;
    return nullptr;
}

} // namespace parvelle::ui::qt
