#pragma once
// Tasks: the reader of one "task" element and the writer of its "IPM.Task" item.
#include <cstdint>

#include "items/item_conversion.h"
#include "items/item_readers.h"
#include "items/item_record.h"

namespace parvelle::items {

struct TaskRecord {
    DateStamp due;
    DateStamp start;
    DateStamp completed;
    DateStamp reminder;
    std::int32_t priority = 0;
    std::int32_t patternType = 0; // as PatternTypeCode gives it
};

// A task's recurrence is not carried over: a recurring task is written as a single task due on
// its own date, which Outlook shows as the archive's next occurrence.
void WriteTask(const component::ObjectRef& folder, ItemHolder& holder, TaskRecord& task,
               ItemConversion& conv);

} // namespace parvelle::items
