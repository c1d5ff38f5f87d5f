#include "items/task_conversion.h"

#include "items/event_conversion.h"
#include "items/item_kind_support.h"
#include "items/mail_reader.h"

namespace parvelle::items {
namespace {

using component::Date;
using component::ObjectRef;

void readTask(MarkupDocument& doc, ItemHolder& holder, TaskRecord& task, ItemConversion& conv) {
    ItemRecord& record = *holder.record;
    if (doc.FindChild("OPFTaskCopyCompletedDateTime"))
        task.completed = ParseDateStamp(doc.ChildText());
    if (doc.FindChild("OPFTaskCopyDueDateTime"))
        task.due = ParseDateStamp(doc.ChildText());
    doc.FindChild("OPFTaskCopyModDate");
    if (doc.FindChild("OPFTaskCopyName")) {
        record.subject = doc.ChildText();
        AnnounceItem(conv, "Task", record.subject);
    }
    if (doc.FindChild("OPFTaskCopyNote"))
        conv.htmlBody = doc.ChildText();
    if (doc.FindChild("OPFTaskCopyRecurrence")) {
        RecurrenceFields recurrence;
        ReadRecurrence(doc, recurrence, true);
        task.patternType = recurrence.patternType;
    }
    if (doc.FindChild("OPFTaskCopyReminderTime"))
        task.reminder = ParseDateStamp(doc.ChildText());
    if (doc.FindChild("OPFTaskCopyStartDateTime"))
        task.start = ParseDateStamp(doc.ChildText());
    if (doc.FindChild("OPFTaskGetPriority"))
        task.priority = LeadingInteger(doc.ChildText());
}

} // namespace

void ReadTask(MarkupDocument& doc, const component::ObjectRef& folder, ItemHolder& holder,
              ItemConversion& conv) {
    BeginKindItem(holder, conv);
    conv.htmlBody.clear();
    TaskRecord task;
    try {
        readTask(doc, holder, task, conv);
    } catch (const std::exception&) {
        // What was read so far is still written.
    }
    WriteTask(folder, holder, task, conv);
}

void WriteTask(const component::ObjectRef& folder, ItemHolder& holder, TaskRecord& task,
               ItemConversion& conv) {
    const ObjectRef item = NewStoreItem(folder, "IPM.Task");
    if (!item)
        return;
    item->put(0x1E, "IPM.Task");
    PutMessageFlags(item, holder);
    if (const DateStamp start = ToLocalDate(task.start); task.start.value > 0)
        item->put(0x60040020, Date{start.value});
    if (const DateStamp due = ToLocalDate(task.due); task.due.value > 0)
        item->put(0x60040011, Date{due.value});
    if (const DateStamp completed = ToLocalDate(task.completed); task.completed.value > 0)
        item->put(0x6004000A, Date{completed.value});
    if (task.reminder.value != 0)
        item->put(0x2F, Date{ToLocalDate(task.reminder).value});
    if (task.patternType == 0)
        PutNamed(item, kAppointmentSet, 0x8231, 0x0003, 0);
    if (task.priority == 2) {
        item->put(0x1B, 2);
    } else if (task.priority == 4) {
        task.priority = 0;
        item->put(0x1B, 0);
    }
    if (holder.unread == 0)
        item->put(0x41, false);
    const ItemRecord* record = holder.record.get();
    if (record != nullptr && !record->subject.empty())
        item->put(0, record->subject);
    if (!conv.htmlBody.empty()) {
        item->put(0x1A, conv.htmlBody);
        conv.htmlBody.clear();
    }
    item->call(6);
}

} // namespace parvelle::items
