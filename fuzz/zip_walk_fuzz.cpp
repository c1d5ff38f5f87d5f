// Feeds arbitrary bytes to the archive walk and inflates every member it reports.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "mailbox/member_paths.h"
#include "mailbox/zip_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace parvelle::mailbox;
    const std::span<const std::uint8_t> bytes(data, size);
    ZipWalkCallbacks cb;
    cb.member = [&](const ZipMember& m) {
        memberFolderKey(m.name);
        memberEntryKind(m.name);
        attachmentMemberKey(m.name);
        if (m.dataOffset < 0 || m.packedSize < 0 ||
            static_cast<std::uint64_t>(m.dataOffset) + static_cast<std::uint64_t>(m.packedSize) >
                size)
            __builtin_trap(); // the walk promised bounds-checked members
        if (m.method == 8 && m.size <= (1 << 20)) {
            std::string out;
            inflateRaw(bytes.subspan(static_cast<std::size_t>(m.dataOffset),
                                     static_cast<std::size_t>(m.packedSize)),
                       m.size, out);
        }
    };
    walkZip(bytes, cb);
    return 0;
}
