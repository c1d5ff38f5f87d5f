// The task kind (IPM.Task, MS-OXOTASK).
//
// Outlook keeps a task's dates as days: StartDate and DueDate are the local date at midnight
// written as if it were UTC, DateCompleted the local midnight in UTC (MS-OXOTASK).
//
// Derived on save, as Outlook does when its own object model saves a task:
// - StartDate and DueDate also as PidLidCommonStart/End, their local midnight in UTC;
// - a completion date makes the task complete: PidLidTaskComplete, PidLidTaskStatus 2
//   (complete) and PidLidPercentComplete 1.0; otherwise status "not started" and 0.0 unless set;
// - the task is the user's own, not assigned and not recurring (PidLidTaskState,
//   PidLidTaskOwnership, PidLidTaskAcceptanceState, PidLidTaskFRecurring), as Outlook makes a
//   new task.
#include "platform/datetime.h"
#include "store/component/item_kind.h"
#include "store/component/mail_item.h"

namespace parvelle::component {
namespace {

using enum TypedValue;
const mapi::Guid& kTask = mapi::psets::kTask;

const std::vector<TypedProperty>& taskTable() {
    static const std::vector<TypedProperty> table = {
        // DateCompleted: PidLidTaskDateCompleted; derives TaskComplete, TaskStatus, PercentComplete
        byName(0x6004000A, LocalDayUtc, kTask, 0x810F),
        byName(0x60040011, LocalDay, kTask, 0x8105), // DueDate: PidLidTaskDueDate; CommonEnd
        byName(0x60040020, LocalDay, kTask, 0x8104), // StartDate: PidLidTaskStartDate; CommonStart
    };
    return table;
}

// The common start or end of a task day: that day's local midnight in UTC.
void copyDay(MailItem& item, const mapi::NamedProperty& from, const mapi::NamedProperty& to) {
    const mapi::PropValue* v = item.getNamed(from);
    if (v == nullptr || !v->asTime())
        return;
    const Date day{platform::oleDateFromUnix(v->asTime()->toUnixSeconds())};
    item.setNamed(to, mapi::PropValue::time(fileTimeFromLocalDate(day)));
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
        copyDay(item, taskProp(0x8104), commonProp(0x8516));
        copyDay(item, taskProp(0x8105), commonProp(0x8517));
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
