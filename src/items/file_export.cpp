#include "items/message_writer.h"

namespace parvelle::items {

// Replaced by the file-export writer (MSG, EML, RTF, HTML, PDF); until then the item fails with
// a reason that the log shows.
void WriteMailToFile(const component::ObjectRef&, ItemHolder&, ItemConversion&) {
    throw component::ComponentError("saving mails as files is not available in this build yet");
}

} // namespace parvelle::items
