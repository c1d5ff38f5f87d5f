// The task kind (IPM.Task, MS-OXOTASK).
//
// Derived on save, as Outlook does when its own object model saves a task:
// - StartDate and DueDate also as PidLidCommonStart/End;
// - a completion date makes the task complete: PidLidTaskComplete, PidLidTaskStatus 2
//   (complete) and PidLidPercentComplete 1.0; otherwise status "not started" and 0.0 unless set;
// - the task is the user's own, not assigned and not recurring (PidLidTaskState,
//   PidLidTaskOwnership, PidLidTaskAcceptanceState, PidLidTaskFRecurring), as Outlook makes a
//   new task.
#include "store/component/item_kind.h"
#include "store/component/mail_item.h"

namespace parvelle::component {
namespace {

using enum TypedValue;
const mapi::Guid& kTask = mapi::psets::kTask;

const std::vector<TypedProperty>& taskTable() {
    static const std::vector<TypedProperty> table = {
        byName(0x6004000A, LocalDate, kTask, 0x810F), // DateCompleted: PidLidTaskDateCompleted
        byName(0x60040011, LocalDate, kTask, 0x8105), // DueDate: PidLidTaskDueDate
        byName(0x60040020, LocalDate, kTask, 0x8104), // StartDate: PidLidTaskStartDate
    };
    return table;
}

void copyTime(MailItem& item, const mapi::NamedProperty& from, const mapi::NamedProperty& to) {
    if (const mapi::PropValue* v = item.getNamed(from); v && v->asTime())
        item.setNamed(to, *v);
}

void setIfMissing(MailItem& item, const mapi::NamedProperty& name, mapi::PropValue value) {
    if (item.getNamed(name) == nullptr)
        item.setNamed(name, std::move(value));
}

class TaskKind : public ItemKind {
public:
    std::optional<Variant> invoke(MailItem& item, std::int32_t dispid, CallKind kind,
                                  std::span<const Variant> args) override {
        if (dispid == 0x1A && kind == CallKind::Put && !args.empty()) { // HTMLBody: the note
            putDescription(item, args.back().toString());
            return answered();
        }
        return putFromTable(taskTable(), item, dispid, kind, args);
    }
    void beforeSave(MailItem& item) override {
        copyTime(item, taskProp(0x8104), commonProp(0x8516));
        copyTime(item, taskProp(0x8105), commonProp(0x8517));
        const mapi::PropValue* completed = item.getNamed(taskProp(0x810F));
        if (completed != nullptr && completed->asTime()) {
            item.setNamed(taskProp(0x811C), mapi::PropValue::boolean(true)); // TaskComplete
            item.setNamed(taskProp(0x8101), mapi::PropValue::i4(2));         // TaskStatus
            item.setNamed(taskProp(0x8102), mapi::PropValue::real(1.0));     // PercentComplete
        } else {
            setIfMissing(item, taskProp(0x811C), mapi::PropValue::boolean(false));
            setIfMissing(item, taskProp(0x8101), mapi::PropValue::i4(0));
            setIfMissing(item, taskProp(0x8102), mapi::PropValue::real(0.0));
        }
        setIfMissing(item, taskProp(0x8113), mapi::PropValue::i4(1));          // TaskState
        setIfMissing(item, taskProp(0x8129), mapi::PropValue::i4(0));          // TaskOwnership
        setIfMissing(item, taskProp(0x812A), mapi::PropValue::i4(0));          // AcceptanceState
        setIfMissing(item, taskProp(0x8126), mapi::PropValue::boolean(false)); // TaskFRecurring
    }
};

} // namespace

std::shared_ptr<ItemKind> makeTaskKind() {
    return std::make_shared<TaskKind>();
}

} // namespace parvelle::component
