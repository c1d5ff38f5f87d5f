// The convert command end to end: the generated sample archive exported to every message-file
// format gives one file per mail in a folder tree that mirrors the mailbox, and nothing else.
#include <gtest/gtest.h>

#include "items/file_names.h"
#include "json_value.h"
#include "olmgen/olmgen.h"
#include "temp_dir.h"
#include "test_support.h"

#include <map>
#include <sstream>

namespace parvelle::items {
namespace {

namespace fs = std::filesystem;
using parvelle::testing::runCommand;
using parvelle::testing::shellQuote;
using parvelle::testing::TempDir;

const fs::path kCli = fs::path(PARVELLE_BINARY_DIR) / "parvelle-cli";

// The export folder of a folder key: each level of the key made safe for a file name.
fs::path exportFolder(const fs::path& root, const std::string& folderKey) {
    fs::path out = root;
    std::istringstream levels(folderKey);
    for (std::string level; std::getline(levels, level, '/');)
        out /= SanitizeFileName(level, true);
    return out;
}

TEST(ConvertCommand, SampleArchiveGivesOneFilePerMailInTheMailboxTree) {
    if (!fs::exists(kCli))
        GTEST_SKIP() << "parvelle-cli is not built";
    TempDir dir;
    const fs::path archive = dir / "sample.olm";
    const olmgen::WriteResult written = olmgen::writeArchive(olmgen::sampleDescription(), archive);
    ASSERT_TRUE(written.ok()) << written.error;

    for (const std::string format : {"msg", "eml", "rtf", "html", "pdf"}) {
        SCOPED_TRACE(format);
        const fs::path out = dir / ("out-" + format);
        // A sanitizer build of the command reports the PDF libraries' own leaks at exit.
        const auto run =
            runCommand("LSAN_OPTIONS=suppressions=" +
                       shellQuote(PARVELLE_SOURCE_DIR "/tests/exports/lsan.supp") + " " +
                       kCli.string() + " convert " + shellQuote(archive.string()) + " --to " +
                       format + " --out " + shellQuote(out.string()) + " 2>&1");
        ASSERT_EQ(run.exitCode, 0) << run.out;

        std::map<std::string, std::size_t> expected;
        for (const olmgen::ItemFacts& item : written.facts.items)
            if (item.kind == olmgen::ItemKind::Mail)
                ++expected[exportFolder(out, item.folderKey).string()];
        std::map<std::string, std::size_t> found;
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            if (entry.is_directory())
                continue;
            EXPECT_EQ(entry.path().extension().string(), "." + format) << entry.path();
            ++found[entry.path().parent_path().string()];
            if (format == "eml") {
                const auto r = runCommand(
                    "python3 " + shellQuote(PARVELLE_SOURCE_DIR "/tests/exports/read_export.py") +
                    " eml " + shellQuote(entry.path().string()));
                const auto json = parvelle::testing::parseJson(r.out);
                ASSERT_TRUE(json) << r.out;
                EXPECT_EQ((*json)["defects"].size(), 0u)
                    << entry.path() << ": " << (*json)["defects"][0].str();
            }
        }
        EXPECT_EQ(found, expected);
    }
}

} // namespace
} // namespace parvelle::items
