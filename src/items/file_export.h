#pragma once
// Mails as loose files: the writers of the save-as types the item object offers, the naming of
// the exported files, and the file writer of the save job (WriteMailToFile in message_writer.h).
//
// Every mail is first made as an MSG message named after its subject; the other formats are
// written from that message (EML, RTF and HTML by the item's save-as, PDF by the renderer), so
// that an export leaves only files of the chosen format. The MSG file itself is written only
// when it is the export: for the other formats its save is only checked, and the exported file
// is written straight into the file that reserved its name.
#include <string>

#include "items/item_conversion.h"
#include "mailbox/records.h"
#include "platform/file_target.h"
#include "store/component/mail_item.h"

namespace parvelle::items {

// The message-file writers a store session hands to its items (MSG, EML, RTF, HTML).
component::FileWriters MessageFileWriters();

// The file extension of a message-file format (".msg", ".eml", ".rtf", ".html", ".pdf"), empty
// for the store formats.
std::string ExportExtension(mailbox::SaveFormat format);

// The most bytes a name made by MakeMessageFilePath takes before its counter and extension:
// the file system's limit for one name less room for a counter, the longest extension and the
// temporary name the writers use next to the file.
std::size_t ExportNameLimit(const std::string& folder);

// The path of the MSG file for the current mail: state.fileExportFolder, then the subject
// (state.currentSubject; "unknown" when empty) with the characters a file name cannot hold
// replaced by '_', then ".msg". The name is cut at a character boundary to ExportNameLimit bytes,
// and to 5 (then 3) characters when the whole path would reach the system's path limit. A name
// already taken gets a counter: name.msg, name1.msg, name2.msg, ...
std::string MakeMessageFilePath(const mailbox::JobState& state);

struct ReservedPath {
    std::string path;
    std::string error;       // empty when `path` was created
    platform::UniqueFd file; // open for reading and writing when `path` was created
    explicit operator bool() const { return error.empty(); }
};

// Reserves the name of an exported file by creating it empty and exclusively: `path` itself when
// it is free, otherwise the first free of stem0.ext, stem1.ext, ... where stem is `path` less its
// last four characters (so name.eml, name0.eml; name.html, name.0.html). A failure other than an
// existing file ends the search with that failure. The file stays open for the writer to fill.
ReservedPath MakeUniqueExportPath(const std::string& path, mailbox::SaveFormat format);

} // namespace parvelle::items
