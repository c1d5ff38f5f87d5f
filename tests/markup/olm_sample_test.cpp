// Every XML document of a genuine OLM archive must parse and be navigable.
#include "markup/markup_document.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace parvelle::markup {
namespace {

std::uint32_t le(std::string_view b, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

TEST(OlmSample, EveryStoredXmlMemberParses) {
    const std::filesystem::path archive =
        std::filesystem::path(PARVELLE_THIRD_PARTY_DIR) / "olm" / "aspose-SampleOLM.olm";
    if (!std::filesystem::exists(archive)) {
        GTEST_SKIP() << "third-party fixtures are not present";
    }
    std::ifstream in(archive, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::string_view data(bytes);
    int documents = 0;
    int items = 0;
    // The sample stores its members uncompressed, with sizes in the local headers.
    for (std::size_t at = 0; at + 30 <= data.size() && le(data, at, 4) == 0x04034b50;) {
        const std::uint32_t method = le(data, at + 8, 2);
        std::uint64_t size = le(data, at + 18, 4);
        const std::uint32_t nameLength = le(data, at + 26, 2);
        const std::uint32_t extraLength = le(data, at + 28, 2);
        const std::size_t body = at + 30 + nameLength + extraLength;
        ASSERT_LE(body, data.size());
        // ZIP64: the sizes are in the extra field (original size first, then stored size).
        for (std::size_t e = at + 30 + nameLength; size == 0xFFFFFFFF && e + 4 <= body;) {
            const std::uint32_t id = le(data, e, 2);
            const std::uint32_t length = le(data, e + 2, 2);
            if (id == 1 && length >= 16 && e + 20 <= body) {
                size = le(data, e + 12, 4) | (std::uint64_t{le(data, e + 16, 4)} << 32);
            }
            e += 4 + length;
        }
        ASSERT_LE(body + size, data.size());
        const std::string name(data.substr(at + 30, nameLength));
        at = body + size;
        if (method != 0 || name.size() < 4 || name.substr(name.size() - 4) != ".xml") {
            continue;
        }
        MarkupDocument doc;
        EXPECT_TRUE(doc.LoadBytes(data.substr(body, size))) << name << ": " << doc.Report();
        ++documents;
        for (const char* kind :
             {"emails", "contacts", "tasks", "notes", "appointments", "groups"}) {
            if (doc.FindSibling(kind)) {
                while (doc.FindChild()) {
                    ++items;
                }
            }
        }
        if (name.find("message_") != std::string::npos) {
            MarkupDocument mail = doc;
            mail.ResetPosition();
            ASSERT_TRUE(mail.FindSibling("emails")) << name;
            ASSERT_TRUE(mail.FindChild("email")) << name;
            ASSERT_TRUE(mail.Descend());
            EXPECT_TRUE(mail.FindChild("OPFMessageCopySentTime")) << name;
            EXPECT_FALSE(mail.ChildText().empty()) << name;
        }
    }
    EXPECT_GT(documents, 10);
    EXPECT_GT(items, 10);
}

} // namespace
} // namespace parvelle::markup
