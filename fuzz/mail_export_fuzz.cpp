// Feeds mail documents with arbitrary field values (subjects, names, addresses, dates, bodies,
// attachment names, types and bytes) through the mail reader into a file export, as the save job
// does with each mail of an archive.
//
// Whatever the values, the export leaves one file of the chosen format (or a failure in the log
// and no file), named within the file system's limit, inside the export folder, and no extracted
// attachment behind. An Internet message must be well formed (see fuzz_checks.h); an MSG file
// must hold every attachment with its own bytes.
#include "fuzz_checks.h"
#include "items/file_export.h"
#include "items/item_conversion.h"
#include "items/item_readers.h"
#include "markup/markup_document.h"
#include "olmgen/documents.h"
#include "store/component/session.h"
#include "store/mapi/tags.h"
#include "store/msg/msg_reader.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace parvelle;
namespace fs = std::filesystem;
using fuzz::fail;
using mailbox::SaveFormat;

// One export folder, temporary folder and conversion for the whole run, as in a save job.
struct Export {
    Export() {
        std::string pattern = (fs::temp_directory_path() / "mail_export_fuzz.XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            fail("no temporary folder");
        root = pattern;
        out = root / "out";
        fs::create_directories(out);
        fs::create_directories(root / "tmp");
        state.tempFolder = (root / "tmp").string();
        state.fileExportFolder = out.string();
        conv = std::make_unique<items::ItemConversion>(
            state, ui, [this](const mailbox::ItemSource& source) -> std::optional<std::string> {
                const auto it = archive.find(source.offset);
                if (it == archive.end())
                    return std::nullopt;
                return it->second;
            });
        conv->jobSession =
            component::createObject("KestraneDll.RDOSession", items::MessageFileWriters());
    }

    fs::path root, out;
    std::map<std::int64_t, std::string> archive; // attachment members by offset
    mailbox::JobState state;
    mailbox::JobFrontEnd ui;
    std::unique_ptr<items::ItemConversion> conv;
};

std::vector<fs::path> filesBelow(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (!entry.is_directory())
            files.push_back(entry.path());
    return files;
}

std::string readAll(const fs::path& path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            bytes.append(chunk, n);
        std::fclose(f);
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Export x;
    FuzzedDataProvider in(data, size);
    const SaveFormat formats[] = {SaveFormat::Eml, SaveFormat::Msg, SaveFormat::Html,
                                  SaveFormat::Rtf};
    const SaveFormat format = formats[in.ConsumeIntegralInRange<std::size_t>(0, 3)];

    olmgen::Mail mail;
    mail.subject = in.ConsumeRandomLengthString(400);
    mail.from = {in.ConsumeRandomLengthString(60), in.ConsumeRandomLengthString(60)};
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n)
        mail.to.push_back({in.ConsumeRandomLengthString(60), in.ConsumeRandomLengthString(60)});
    if (in.ConsumeBool())
        mail.cc.push_back({in.ConsumeRandomLengthString(60), in.ConsumeRandomLengthString(60)});
    mail.sentTime = in.ConsumeBool() ? "2026-01-06T10:00:00" : in.ConsumeRandomLengthString(30);
    mail.receivedTime = in.ConsumeRandomLengthString(30);
    mail.priority = in.ConsumeIntegralInRange(0, 6);
    mail.isRead = in.ConsumeBool();
    mail.body = in.ConsumeRandomLengthString(2000);
    if (in.ConsumeBool())
        mail.htmlBody = in.ConsumeRandomLengthString(2000);
    std::vector<std::string> urls;
    x.archive.clear();
    x.state.memberPaths.clear();
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        olmgen::Attachment a;
        a.name = in.ConsumeRandomLengthString(100);
        a.extension = in.ConsumeRandomLengthString(10);
        a.contentType = in.ConsumeRandomLengthString(30);
        a.content = in.ConsumeRandomLengthString(3000);
        const auto offset = static_cast<std::int64_t>(mail.attachments.size());
        urls.push_back("Accounts/a/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/m1_" +
                       std::to_string(offset));
        mailbox::AttachmentDetails member;
        member.offset = offset;
        x.state.memberPaths[urls.back()] = member;
        x.archive[offset] = a.content.bytes();
        mail.attachments.push_back(std::move(a));
    }

    markup::MarkupDocument doc;
    if (!doc.SetText(olmgen::mailDocument(mail, "m1", urls)) || !doc.FindSibling("emails"))
        return 0; // a document the reader never gets
    x.state.saveFormat = format;
    // The save job hands the writers the archive's members (as here, every other time); without
    // that the attachments are copied out to files first.
    if (in.ConsumeBool())
        x.conv->openArchiveMember =
            [](const mailbox::ItemSource& source) -> std::optional<mapi::AttachmentContent> {
            const auto it = x.archive.find(source.offset);
            if (it == x.archive.end())
                return std::nullopt;
            return mapi::AttachmentContent::fromBytes(
                mapi::Binary(it->second.begin(), it->second.end()));
        };
    else
        x.conv->openArchiveMember = nullptr;
    x.state.itemsFailed = 0;
    const std::size_t logRows = x.state.log.size();
    items::ItemHolder holder;
    items::ReadEmails(doc, nullptr, holder, *x.conv);

    const std::vector<fs::path> files = filesBelow(x.out);
    if (!filesBelow(x.root / "tmp").empty())
        fail("extracted attachments left behind");
    if (files.size() > 1)
        fail("more than one file for one mail", files[1].string());
    if (files.empty()) {
        if (x.state.itemsFailed == 0 && x.state.log.size() == logRows)
            fail("no file and no failure reported");
        return 0;
    }
    const fs::path& file = files.front();
    const fs::path relative = fs::relative(file, x.out);
    for (const fs::path& part : relative) {
        if (part == "." || part == ".." || part.string().empty())
            fail("path outside the export folder", relative.string());
        if (part.string().size() > 255)
            fail("file name beyond 255 bytes", part.string());
    }
    if (file.extension() != items::ExportExtension(format))
        fail("wrong extension", file.string());
    if (format == SaveFormat::Eml)
        (void)fuzz::checkEml(readAll(file));
    if (format == SaveFormat::Msg) {
        // Every attachment arrives with its own bytes, in order.
        auto read = msg::readMsgFile(file.string());
        if (!read)
            fail("MSG file unreadable", read.error());
        if (read->attachments.size() != mail.attachments.size())
            fail("attachments lost");
        for (std::size_t i = 0; i < mail.attachments.size(); ++i) {
            const mapi::AttachmentContent& c = read->attachments[i].content;
            std::string bytes(static_cast<std::size_t>(c.size), '\0');
            if (!bytes.empty() &&
                !c.read(0, {reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()}))
                fail("attachment unreadable");
            if (bytes != mail.attachments[i].content.bytes())
                fail("attachment bytes changed",
                     read->attachments[i].props.string(mapi::tags::kAttachLongFilename));
        }
    }
    fs::remove(file);
    return 0;
}
