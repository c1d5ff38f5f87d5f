// libFuzzer target for the PST reader and checker: any bytes must give values or errors, never a
// crash, a hang or a leak. Seed it with genuine PST files; the header parse rejects most random
// input at once.
#include "store/pst/checker.h"
#include "store/pst/inspect.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace parvelle::pst;
    std::vector<std::uint8_t> bytes(data, data + size);
    auto db = NodeDatabase::fromBytes(bytes);
    if (!db)
        return 0;
    checkStore(*db);
    for (const NbtEntry& node : db->allNodes()) {
        if (const auto context = openNodeContext(*db, {node.bidData, node.bidSub})) {
            readPropertyContext(*context);
            readTableContext(*context);
        }
    }
    auto reader = PstReader::fromBytes(std::move(bytes));
    if (!reader)
        return 0;
    reader->passwordCrc();
    reader->namedProperties();
    if (const auto summary = inspectStore(*reader, true)) {
        summaryToJson(*summary, true);
        // Embedded messages are only opened on request; open them here too.
        for (const NbtEntry& node : reader->ndb().allNodes()) {
            if (nidType(node.nid) != kNidTypeNormalMessage)
                continue;
            const auto message = reader->message(node.nid);
            if (!message)
                continue;
            for (const PstAttachment& a : message->attachments) {
                if (const auto embedded = reader->embeddedMessage(a))
                    summarizeMessage(*reader, *embedded, "/");
            }
        }
    }
    return 0;
}
