#include "items/item_readers.h"

namespace parvelle::items {
namespace {

// Replaced by the readers and writers of contacts, events, tasks, notes and groups; until then
// such an item fails with a reason that the log shows.
[[noreturn]] void notYet(const char* kind) {
    throw component::ComponentError(std::string(kind) +
                                    " items cannot be converted in this build yet");
}

} // namespace

void ReadContact(MarkupDocument&, const component::ObjectRef&, ItemHolder&, ItemConversion&) {
    notYet("Contact");
}
void ReadEvent(MarkupDocument&, const component::ObjectRef&, ItemHolder&, ItemConversion&) {
    notYet("Calendar");
}
void ReadTask(MarkupDocument&, const component::ObjectRef&, ItemHolder&, ItemConversion&) {
    notYet("Task");
}
void ReadNote(MarkupDocument&, const component::ObjectRef&, ItemHolder&, ItemConversion&) {
    notYet("Note");
}
void ReadGroup(MarkupDocument&, const component::ObjectRef&, ItemHolder&, ItemConversion&) {
    notYet("Group");
}

} // namespace parvelle::items
