#include "items/file_export.h"

#include "items/message_writer.h"
#include "store/mime/eml_writer.h"
#include "store/msg/msg_writer.h"

namespace parvelle::items {
namespace {

bool writeMsg(const mapi::Message& message, const std::string& path, std::string& error) {
    const msg::Status status = msg::writeMsgFile(message, path);
    if (!status)
        error = status.error();
    return status.ok();
}

bool writeEml(const mapi::Message& message, const std::string& path, std::string& error) {
    const mime::EmlResult result = mime::writeEmlFile(message, path);
    if (!result)
        error = result.error;
    return static_cast<bool>(result);
}

} // namespace

component::FileWriters MessageFileWriters() {
    component::FileWriters writers;
    writers.msg = &writeMsg;
    writers.eml = &writeEml;
    return writers;
}

// Replaced by the file-export writer (MSG, EML, RTF, HTML, PDF); until then the item fails with
// a reason that the log shows.
void WriteMailToFile(const component::ObjectRef&, ItemHolder&, ItemConversion&) {
    throw component::ComponentError("saving mails as files is not available in this build yet");
}

} // namespace parvelle::items
