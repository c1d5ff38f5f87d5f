#pragma once
// Folders and messages the round-trip tests write, and what a reader should see of them.
#include "oracles.h"
#include "store/mapi/message.h"
#include "store/pst/pst_store.h"

#include <string>
#include <vector>

namespace parvelle::pst::test {

struct CorpusFolder {
    std::string path; // below the top of the folder tree, "/"-separated
    std::string containerClass;
    std::vector<mapi::Message> messages;
};

// Mails with recipients, plain and HTML-only bodies, Unicode everywhere, attachments of every
// size class and odd names, an embedded message, and contacts, appointments, tasks, notes and a
// distribution list as property sets with named properties; one empty folder.
std::vector<CorpusFolder> richCorpus();
// `count` small mails in one folder.
std::vector<CorpusFolder> manyMessages(const std::string& folder, int count);
// A chain of folders `depth` deep, one mail at the bottom.
std::vector<CorpusFolder> deepTree(int depth);
// `count` sibling folders under `parent`, one mail in each.
std::vector<CorpusFolder> manySubfolders(const std::string& parent, int count);

// Creates the folders (reusing existing ones by name) and adds the messages.
bool writeCorpus(PstStore& store, const std::vector<CorpusFolder>& corpus, std::string& error);
// What a reader should report: folders by path, items with subject, class, recipients and
// attachments (content hashes); bodies of plain-text mails.
SeenStore expectedView(const std::vector<CorpusFolder>& corpus);

PstStore::Options options(const std::string& displayName, std::size_t commitEvery = 1000,
                          const std::string& password = "");

mapi::Message simpleMail(const std::string& subject, const std::string& body);

} // namespace parvelle::pst::test
