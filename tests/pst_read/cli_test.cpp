// The check-pst and pst-info command functions: output, JSON shape and exit codes.
#include "cli/pst_commands.h"
#include "pst_read_fixtures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

using parvelle::pst_read_test::genuineFile;

namespace {

struct CommandRun {
    int code;
    std::string out;
    std::string err;
};

CommandRun run(int (*command)(const std::vector<std::string>&),
               const std::vector<std::string>& args) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int code = command(args);
    std::fflush(stdout);
    std::fflush(stderr);
    return {code, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
}

} // namespace

TEST(PstCommands, CheckPstPassesGenuineFile) {
    const auto path = genuineFile("pstsdk-test_ansi.pst");
    if (!path)
        GTEST_SKIP() << "third-party samples not present";
    const CommandRun text = run(parvelle::cli::runCheckPst, {*path});
    EXPECT_EQ(text.code, 0) << text.out << text.err;
    EXPECT_NE(text.out.find("no problems found"), std::string::npos);
    const CommandRun json = run(parvelle::cli::runCheckPst, {*path, "--json"});
    EXPECT_EQ(json.code, 0);
    EXPECT_NE(json.out.find("\"clean\": true"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"format\": \"ansi\""), std::string::npos);
}

TEST(PstCommands, PstInfoPrintsFoldersAndItems) {
    const auto path = genuineFile("pstsdk-test_unicode.pst");
    if (!path)
        GTEST_SKIP() << "third-party samples not present";
    const CommandRun r = run(parvelle::cli::runPstInfo, {*path, "--json", "--items"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* expected :
         {"\"format\": \"unicode\"", "\"encryption\": \"permute\"", "\"path\": \"/\"",
          "\"path\": \"/Folder\"", "\"messageClass\": \"IPM.Post\"", "\"folder\": \"/Folder\"",
          "\"recipients\": [", "\"attachments\": ["})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
    const CommandRun folders = run(parvelle::cli::runPstInfo, {*path, "--json"});
    EXPECT_EQ(folders.out.find("\"messageClass\""), std::string::npos);
}

TEST(PstCommands, NotAPstFileIsOneSentenceAndFailure) {
    const auto path = std::filesystem::temp_directory_path() / "pstr-not-a-pst.txt";
    std::ofstream(path) << "This is a text file, not a personal folders file.\n";
    for (auto command : {parvelle::cli::runCheckPst, parvelle::cli::runPstInfo}) {
        const CommandRun r = run(command, {path.string()});
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find("is not a PST file"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    std::filesystem::remove(path);
}

TEST(PstCommands, WrongArgumentsExitTwo) {
    EXPECT_EQ(run(parvelle::cli::runCheckPst, {}).code, 2);
    EXPECT_EQ(run(parvelle::cli::runCheckPst, {"a.pst", "--items"}).code, 2);
    EXPECT_EQ(run(parvelle::cli::runPstInfo, {"a.pst", "b.pst"}).code, 2);
}
