// The generated sample archive converted end to end with parvelle-cli: each item kind lands in
// its folder, with the folder's container class and every item of the archive.
#include <gtest/gtest.h>

#include <map>

#include "olmgen/olmgen.h"
#include "oracles.h"
#include "own_reader.h"
#include "temp_dir.h"

namespace parvelle::items::test {
namespace {

TEST(ConvertSample, EveryKindLandsInItsFolder) {
    parvelle::testing::TempDir dir;
    const auto archive = dir / "sample.olm";
    ASSERT_TRUE(olmgen::writeArchive(olmgen::sampleDescription(), archive).ok());
    const std::string cli = PARVELLE_CLI;
    std::string output;
    ASSERT_EQ(pst::test::runCommand(cli + " convert '" + archive.string() + "' --to pst --out '" +
                                        (dir / "out").string() + "' 2>&1",
                                    &output),
              0)
        << output;
    const std::string pst = (dir / "out" / "jane.doe@example.com.pst").string();
    EXPECT_EQ(pst::test::checkerViolations(pst), "");
    std::string error;
    const OwnStore store = OwnStore::read(pst, error);
    ASSERT_EQ(error, "");
    struct Expected {
        const char* folder;
        const char* containerClass;
        std::map<std::string, int> classes;
    };
    const Expected expected[] = {
        {"Contacts", "IPF.Contact", {{"IPM.Contact", 4}, {"IPM.DistList", 2}}},
        {"Calendar", "IPF.Appointment", {{"IPM.Appointment", 3}}},
        // The archive keeps every calendar of an account in its "Calendar" type folder; the
        // folder tree folds that level away, so a second calendar is the first one's sibling.
        {"Birthdays", "IPF.Appointment", {{"IPM.Appointment", 1}}},
        {"Tasks", "IPF.Task", {{"IPM.Task", 3}}},
        {"Notes", "IPF.StickyNote", {{"IPM.StickyNote", 2}}},
    };
    EXPECT_EQ(store.containerClass("Calendar/Birthdays"), "");
    EXPECT_TRUE(store.items("Calendar/Birthdays").empty());
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.folder);
        EXPECT_EQ(store.containerClass(e.folder), e.containerClass);
        std::map<std::string, int> classes;
        for (const OwnItem& item : store.items(e.folder))
            ++classes[store.text(item, 0x001A)];
        EXPECT_EQ(classes, e.classes);
    }
}

} // namespace
} // namespace parvelle::items::test
