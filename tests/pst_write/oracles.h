#pragma once
// What each PST reader sees in a file, in one shape so the tests can compare them with what was
// written: folders by path below the top of the visible tree, their items, recipients and
// attachments (content as SHA-256).
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace parvelle::pst::test {

struct SeenAttachment {
    std::string name;
    std::string sha256; // empty for an embedded message
    std::uint64_t size = 0;
    std::string embeddedSubject;
};

struct SeenItem {
    std::string messageClass; // empty when the reader does not expose it
    std::string subject;
    std::string body;
    std::vector<std::string> recipientEmails;
    std::vector<SeenAttachment> attachments;
};

struct SeenStore {
    std::map<std::string, std::vector<SeenItem>> folders; // "Inbox/Sub" -> items
};

// Each returns nullopt with `skipped` set when the reader is not installed, or with `error` set
// when it failed on the file.
struct OracleResult {
    std::optional<SeenStore> store;
    std::string error;
    bool skipped = false;
};

OracleResult readWithOwnReader(const std::string& pst);
OracleResult readWithPstExtractor(const std::string& pst);
OracleResult readWithPffexport(const std::string& pst, const std::string& workDir);
OracleResult readWithReadpst(const std::string& pst, const std::string& workDir);

// What pst-extractor's typed getters return for contacts, appointments, tasks, notes and
// distribution lists (pstx_fields.js): folder path -> subject -> field -> value as text.
using SeenFields = std::map<std::string, std::map<std::string, std::map<std::string, std::string>>>;
struct FieldsResult {
    std::optional<SeenFields> fields;
    std::string error;
    bool skipped = false;
};
FieldsResult readFieldsWithPstExtractor(const std::string& pst);

// Every property of every item as pffexport dumps it (-d, ItemValues.txt): folder path ->
// subject -> property tag -> value bytes as stored.
using SeenValues =
    std::map<std::string,
             std::map<std::string, std::map<std::uint32_t, std::vector<std::uint8_t>>>>;
struct ValuesResult {
    std::optional<SeenValues> values;
    std::string error;
    bool skipped = false;
};
ValuesResult readItemValuesWithPffexport(const std::string& pst, const std::string& workDir);

// The consistency checker's report; empty when the file is clean.
std::string checkerViolations(const std::string& pst);

std::string sha256Hex(const std::vector<std::uint8_t>& bytes);
// Runs a shell command, returning its exit status and standard output.
int runCommand(const std::string& command, std::string* output = nullptr);

} // namespace parvelle::pst::test
