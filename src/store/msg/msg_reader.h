#pragma once
// Reads an MSG file back into the in-memory message model: properties (named ones resolved
// through the file's map), recipients, attachments and embedded messages. Attachment bytes are
// not loaded: each attachment's content reads them from the file when asked. Used by the tests
// and by checks of written files; every size and offset in the file is verified before use.
#include "store/mapi/message.h"
#include "store/msg/compound_file_reader.h"
#include "store/msg/result.h"

#include <string>

namespace parvelle::msg {

Result<mapi::Message> readMsgFile(const std::string& path);

} // namespace parvelle::msg
