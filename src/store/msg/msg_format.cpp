#include "store/msg/msg_format.h"

#include <cstdio>

namespace parvelle::msg {

namespace {
std::string hex8(std::uint32_t v) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08X", v);
    return buf;
}
} // namespace

std::string valueStreamName(mapi::PropTag tag) {
    return kSubstgPrefix + hex8(tag);
}

std::string multiValueStreamName(mapi::PropTag tag, std::uint32_t index) {
    return valueStreamName(tag) + "-" + hex8(index);
}

std::string recipientStorageName(std::uint32_t index) {
    return kRecipientPrefix + hex8(index);
}

std::string attachmentStorageName(std::uint32_t index) {
    return kAttachmentPrefix + hex8(index);
}

} // namespace parvelle::msg
