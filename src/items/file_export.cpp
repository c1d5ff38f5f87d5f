#include "items/file_export.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "items/file_names.h"
#include "items/message_writer.h"
#include "items/pdf_export.h"
#include "platform/text.h"
#include "store/mapi/derived_properties.h"
#include "store/mapi/html_text.h"
#include "store/mime/eml_writer.h"
#include "store/mime/html_writer.h"
#include "store/mime/rtf_writer.h"
#include "store/msg/msg_writer.h"

namespace parvelle::items {
namespace {

using component::ComponentError;
using component::ObjectRef;
using mailbox::SaveFormat;

// Dispatch ids the file writer calls beyond those of the common fill.
enum : std::int32_t {
    kNewFileItem = 0x6002001E, // session: an item kept in a message file
    kSubject = 0x00,
    kAttachmentItem = 0x00, // attachments: one attachment by index from 1
    kAttachmentType = 0x09,
    kBody = 0x0B,
    kCc = 0x0E,
    kHtmlBody = 0x1A,
    kSenderText = 0x34,
    kConversion = 0x37,
    kTo = 0x40,
    kSaveAs = 0x48,
    kAttachments = 0x49,
    kAttachmentCount = 0x50,
    kAttachmentFileName = 0x67,
};

// The message model as the file backends expect it: with the properties Outlook computes on
// save. The item keeps its own message unchanged, so a later save derives afresh.
mapi::Message derived(const mapi::Message& message) {
    mapi::Message copy = message;
    mapi::deriveOnSave(copy);
    return copy;
}

bool writeMsg(const mapi::Message& message, const platform::FileTarget& target,
              std::string& error) {
    // Like the other formats' files, left to the system to write back: a flush per mail would
    // make an export of many mails many times slower than copying the archive.
    msg::MsgWriteOptions options;
    options.sync = false;
    const msg::Status status = msg::writeMsgFile(derived(message), target, options);
    if (!status)
        error = status.error();
    return status.ok();
}

// What the properties derived on save add never decides whether a message fits an MSG file, so
// the check reads the message as it is.
bool checkMsg(const mapi::Message& message, std::string& error) {
    const msg::Status status = msg::checkMsgLimits(message);
    if (!status)
        error = status.error();
    return status.ok();
}

// The EML, RTF and HTML writers of a message already derived.
bool writeDerivedEml(const mapi::Message& message, const platform::FileTarget& target,
                     std::string& error) {
    const mime::EmlResult result = mime::writeEmlFile(message, target);
    if (!result)
        error = result.error;
    return static_cast<bool>(result);
}

bool writeDerivedRtf(const mapi::Message& message, const platform::FileTarget& target,
                     std::string& error) {
    error = mime::writeRtfFile(message, target);
    return error.empty();
}

bool writeDerivedHtml(const mapi::Message& message, const platform::FileTarget& target,
                      std::string& error) {
    error = mime::writeHtmlFile(message, target);
    return error.empty();
}

// The save-as writer of an item's message: derives it first.
template <component::FileWriters::Writer writeDerived>
bool deriveAndWrite(const mapi::Message& message, const platform::FileTarget& target,
                    std::string& error) {
    return writeDerived(derived(message), target, error);
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::size_t characterCount(std::string_view text) {
    std::size_t n = 0;
    for (char c : text)
        n += isContinuationByte(c) ? 0 : 1;
    return n;
}

std::string firstCharacters(const std::string& text, std::size_t count) {
    std::size_t end = 0;
    for (std::size_t seen = 0; end < text.size(); ++end) {
        if (!isContinuationByte(text[end]) && seen++ == count)
            break;
    }
    return text.substr(0, end);
}

long systemLimit(const std::string& folder, int name, long fallback) {
    // Asked for every mail, mostly about the folder asked about just before (a system call each):
    // the last answers per limit are kept.
    struct Answer {
        std::string folder;
        int name = 0;
        long value = 0;
    };
    thread_local std::array<Answer, 2> last;
    Answer& slot = last[name == _PC_NAME_MAX ? 0 : 1];
    if (slot.name == name && slot.folder == folder)
        return slot.value;
    const long value = ::pathconf(folder.empty() ? "." : folder.c_str(), name);
    if (value <= 0)
        return fallback;
    slot = {folder, name, value};
    return value;
}

// Room kept after the name: a counter (up to 8 digits and the dot of an HTML series), the
// longest extension (".html") and the writers' temporary suffix (".xxxxxxxx.tmp").
constexpr std::size_t kNameReserve = 32;

// A path that would reach the system's path limit keeps the first 5 characters of its name (3
// when that is still too long), as long as the name has 11 characters or more.
std::string shortenForPath(const std::string& folder, const std::string& name,
                           const std::string& suffix, std::size_t pathLimit) {
    auto pathSize = [&](const std::string& n) {
        return folder.size() + 1 + n.size() + suffix.size();
    };
    if (pathSize(name) < pathLimit || characterCount(name) < 11)
        return name;
    std::string cut = firstCharacters(name, 5);
    if (pathSize(cut) >= pathLimit)
        cut = firstCharacters(name, 3);
    return cut;
}

bool pathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string withExtension(const std::string& msgPath, const std::string& extension) {
    return msgPath.substr(0, msgPath.size() - 4) + extension;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The PDF texts, read back from the saved message. A mail with only an HTML body prints the
// text of that body rather than no body at all.
PdfTexts gatherPdfTexts(const ObjectRef& message) {
    std::vector<std::string> names;
    if (const ObjectRef attachments = message->get(kAttachments).toObject()) {
        const std::int32_t count = attachments->get(kAttachmentCount).toInt();
        for (std::int32_t i = 1; i <= count; ++i) {
            const ObjectRef attachment = attachments->get(kAttachmentItem, {i}).toObject();
            if (attachment && attachment->get(kAttachmentType).toInt() == 1)
                names.push_back(attachment->get(kAttachmentFileName).toString());
        }
    }
    std::string body = message->get(kBody).toString();
    if (body.empty())
        body = mapi::htmlToPlainText(message->get(kHtmlBody).toString());
    return MakePdfTexts(message->get(kSenderText).toString(), message->get(kTo).toString(),
                        message->get(kCc).toString(), message->get(kSubject).toString(), names,
                        std::move(body));
}

component::SaveAsType saveAsType(SaveFormat format) {
    switch (format) {
    case SaveFormat::Eml:
        return component::kSaveAsEml;
    case SaveFormat::Rtf:
        return component::kSaveAsRtf;
    case SaveFormat::Html:
        return component::kSaveAsHtml;
    default:
        return component::kSaveAsMsgUnicode;
    }
}

// The writer of a save-as format, for a message already derived.
component::FileWriters::Writer derivedWriterFor(SaveFormat format) {
    switch (format) {
    case SaveFormat::Eml:
        return &writeDerivedEml;
    case SaveFormat::Rtf:
        return &writeDerivedRtf;
    default:
        return &writeDerivedHtml;
    }
}

// A mail whose attachments hold more than this in memory (inflated from the archive) is written
// on the job thread: the queue's ten or so mails then hold at most this much each.
constexpr std::uint64_t kMaxQueuedContent = 8u << 20;

// Hands the writing of the reserved file to the background writer. The message is taken from
// the item (which after its export only discards its intermediate file) and derived here, so the
// writers only encode and write; a failed write removes the file it had reserved.
void writeInBackground(platform::BackgroundWorker& writer, component::MailItem& item,
                       ReservedPath target, SaveFormat format, ItemConversion& conv) {
    auto message = std::make_shared<mapi::Message>(std::move(item.message()));
    mapi::deriveOnSave(*message);
    auto file = std::make_shared<platform::UniqueFd>(std::move(target.file));
    writer.submit(conv.itemRow(), [message, file, path = target.path, format]() -> std::string {
        std::string error;
        try {
            if (derivedWriterFor(format)(*message, {path, file->get()}, error)) {
                platform::startWriteBack(file->get());
                return {};
            }
        } catch (const std::exception& e) {
            error = e.what();
        }
        file->reset();
        std::error_code ec;
        std::filesystem::remove(path, ec);
        // The reason a save-as of the item itself gives.
        return "The item could not be saved as " + path + ": " + error;
    });
}

// Writes the mail, whose save as the intermediate MSG message was checked, in the job's format
// to a newly reserved file. The writers fill the reserved file itself; `reserved` names it until it
// is complete (or handed to the background writer), for the caller to remove should writing
// fail.
void exportMessage(const ObjectRef& message, const std::string& msgPath, SaveFormat format,
                   ItemConversion& conv, std::string& reserved) {
    ReservedPath target =
        MakeUniqueExportPath(withExtension(msgPath, ExportExtension(format)), format);
    if (!target)
        throw ComponentError(target.error);
    reserved = target.path;
    if (format == SaveFormat::Pdf) {
        const PdfResult rendered = RenderPdf(gatherPdfTexts(message), reserved);
        if (!rendered)
            throw ComponentError("The PDF could not be written: " + rendered.error);
    } else if (const auto item = std::dynamic_pointer_cast<component::MailItem>(message);
               item && conv.backgroundWriter() &&
               mapi::contentBytes(item->message(), [](const mapi::AttachmentContent& c) {
                   return c.inMemory;
               }) <= kMaxQueuedContent) {
        writeInBackground(*conv.backgroundWriter(), *item, std::move(target), format, conv);
    } else {
        message->call(kSaveAs, {reserved, static_cast<std::int32_t>(saveAsType(format)),
                                std::int32_t{target.file.get()}});
    }
    reserved.clear();
}

} // namespace

component::FileWriters MessageFileWriters() {
    component::FileWriters writers;
    writers.msg = &writeMsg;
    writers.eml = &deriveAndWrite<&writeDerivedEml>;
    writers.rtf = &deriveAndWrite<&writeDerivedRtf>;
    writers.html = &deriveAndWrite<&writeDerivedHtml>;
    writers.msgCheck = &checkMsg;
    return writers;
}

std::string ExportExtension(SaveFormat format) {
    switch (format) {
    case SaveFormat::Msg:
        return ".msg";
    case SaveFormat::Eml:
        return ".eml";
    case SaveFormat::Rtf:
        return ".rtf";
    case SaveFormat::Html:
        return ".html";
    case SaveFormat::Pdf:
        return ".pdf";
    default:
        return {};
    }
}

std::size_t ExportNameLimit(const std::string& folder) {
    const auto nameMax = static_cast<std::size_t>(systemLimit(folder, _PC_NAME_MAX, NAME_MAX));
    return nameMax > kNameReserve + 16 ? nameMax - kNameReserve : 16;
}

std::string MakeMessageFilePath(const mailbox::JobState& state) {
    const std::string& folder = state.fileExportFolder;
    std::string name = text::sanitizeUtf8(state.currentSubject);
    if (name.empty())
        name = "unknown";
    name = SystemFileName(name);
    name = FirstBytes(name, ExportNameLimit(folder));
    const auto pathLimit = static_cast<std::size_t>(systemLimit(folder, _PC_PATH_MAX, PATH_MAX));

    std::string path = joinPath(folder, shortenForPath(folder, name, ".msg", pathLimit) + ".msg");
    for (std::uint64_t counter = 1; pathExists(path); ++counter) {
        const std::string suffix = std::to_string(counter) + ".msg";
        path = joinPath(folder, shortenForPath(folder, name, suffix, pathLimit) + suffix);
    }
    return path;
}

ReservedPath MakeUniqueExportPath(const std::string& path, SaveFormat format) {
    const std::string extension = ExportExtension(format);
    if (extension.empty() || path.size() < 4)
        return {path, "not a path of a message-file format: " + path, {}};
    const std::string stem = path.substr(0, path.size() - 4);
    std::string candidate = path;
    // Far more than any folder holds; the bound only keeps a broken file system from looping.
    constexpr std::uint32_t kMaxCounter = 10'000'000;
    for (std::uint32_t counter = 0;; ++counter) {
        // Readable and writable under the umask, as the written file is to be: it is filled in
        // place.
        const int fd = ::open(candidate.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0)
            return {candidate, {}, platform::UniqueFd(fd)};
        if (errno != EEXIST)
            return {candidate, "cannot create " + candidate + ": " + std::strerror(errno), {}};
        if (counter == kMaxCounter)
            return {candidate, "no free file name left for " + path, {}};
        candidate = stem + std::to_string(counter) + extension;
    }
}

void WriteMailToFile(const ObjectRef&, ItemHolder& holder, ItemConversion& conv) {
    const SaveFormat format = conv.state.saveFormat;
    if (ExportExtension(format).empty())
        throw ComponentError("The save format is not a message-file format");
    if (!conv.jobSession)
        throw ComponentError("There is no store session to create message files with");
    const std::string msgPath = MakeMessageFilePath(conv.state);
    // The MSG file is written by the save only when it is the export; for the other formats it
    // is an intermediate step that the item merely checks.
    const ObjectRef message =
        conv.jobSession
            ->call(kNewFileItem, {msgPath, "IPM.Note", std::int32_t{2}, format != SaveFormat::Msg})
            .toObject();
    if (!message)
        throw ComponentError("The message file could not be created: " + msgPath);
    if (format == SaveFormat::Msg) {
        // The save writes the message file as Unicode MSG; a save-as of that type to the same
        // path would only write the same file again.
        FillMailMessage(message, holder, conv);
        return;
    }
    std::string reserved;
    try {
        // The message was saved by the fill just before and has not changed since, so it is not
        // saved again before it is converted.
        FillMailMessage(message, holder, conv);
        exportMessage(message, msgPath, format, conv, reserved);
    } catch (...) {
        // A failed export leaves nothing that looks like a result: neither the intermediate MSG
        // file nor the empty file that reserved the name.
        try {
            message->call(kConversion, {std::int32_t{2}});
        } catch (const ComponentError&) {
        }
        if (!reserved.empty()) {
            std::error_code ec;
            std::filesystem::remove(reserved, ec);
        }
        throw;
    }
    // Only the file of the chosen format stays.
    message->call(kConversion, {std::int32_t{2}});
}

} // namespace parvelle::items
