// Writes a mail of arbitrary texts, recipients and attachments into a new PST file, in a folder of
// an arbitrary name, as the save job does with whatever an archive holds. The file must pass the
// checker without a single finding, and read back with the folder's name, the mail's subject and
// recipients, and every attachment's bytes.
#include "fuzz_checks.h"
#include "platform/text.h"
#include "store/mapi/message.h"
#include "store/mapi/tags.h"
#include "store/pst/checker.h"
#include "store/pst/pst_store.h"
#include "store/pst/reader_messaging.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace parvelle;
using fuzz::fail;

std::string stringOf(const pst::PropertyMap& props, std::uint16_t id) {
    return pst::stringProp(props, id).value_or("");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/pst_writer_fuzz." + std::to_string(::getpid()) + ".pst";
    FuzzedDataProvider in(data, size);
    const std::string folderName = in.ConsumeRandomLengthString(100);
    mapi::Message m;
    m.props.setString(mapi::tags::kMessageClass, "IPM.Note");
    m.props.setString(mapi::tags::kSubject, in.ConsumeRandomLengthString(600));
    m.props.setString(mapi::tags::kSenderName, in.ConsumeRandomLengthString(80));
    m.props.setString(mapi::tags::kSenderEmail, in.ConsumeRandomLengthString(80));
    if (in.ConsumeBool())
        m.props.setTime(mapi::tags::kClientSubmitTime,
                        mapi::FileTime{in.ConsumeIntegral<std::uint64_t>()});
    m.props.setString(mapi::tags::kBody, in.ConsumeRandomLengthString(20000));
    if (in.ConsumeBool()) {
        const std::string html = in.ConsumeRandomLengthString(20000);
        m.props.setBinary(mapi::tags::kHtml, mapi::Binary(html.begin(), html.end()));
    }
    for (int n = in.ConsumeIntegralInRange(0, 5); n > 0; --n) {
        std::string name = in.ConsumeRandomLengthString(80);
        std::string address = in.ConsumeRandomLengthString(80);
        m.recipients.push_back(mapi::Recipient::make(std::move(name), std::move(address),
                                                     in.ConsumeIntegralInRange(1, 3)));
    }
    std::vector<std::string> contents;
    for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n) {
        std::string name = in.ConsumeRandomLengthString(120);
        // Past a heap allocation's limit now and then, so both ways of storing data are used.
        const std::size_t repeat = in.ConsumeBool() ? 1 : in.ConsumeIntegralInRange(1, 64);
        const std::string unit = in.ConsumeRandomLengthString(300);
        std::string bytes;
        for (std::size_t i = 0; i < repeat; ++i)
            bytes += unit;
        contents.push_back(bytes);
        m.attachments.push_back(
            mapi::Attachment::byValue(std::move(name), mapi::Binary(bytes.begin(), bytes.end())));
    }
    const mapi::Message written = m;

    ::unlink(path.c_str());
    std::string error;
    std::uint32_t folderId = 0;
    {
        auto store = pst::PstStore::create(path, {}, error);
        if (!store)
            fail("cannot create the PST file", error);
        const auto folder = store->addFolder(store->rootFolder(), folderName, "IPF.Note", error);
        if (!folder)
            fail("folder refused", error);
        folderId = *folder;
        if (!store->addMessage(*folder, m, error))
            fail("message refused", error);
        if (!store->close(error))
            fail("cannot close the PST file", error);
    }

    auto reader = pst::PstReader::open(path);
    if (!reader)
        fail("PST file unreadable", reader.error());
    const pst::CheckReport report = pst::checkStore(reader->ndb());
    if (!report.clean())
        fail("checker findings", pst::reportToText(path, report));
    const auto top = reader->ipmSubtree();
    if (!top)
        fail("no top folder", top.error());
    const auto root = reader->folder(*top);
    if (!root)
        fail("top folder unreadable", root.error());
    if (std::find(root->subfolders.begin(), root->subfolders.end(), folderId) ==
        root->subfolders.end())
        fail("folder not listed under the top folder");
    const auto folder = reader->folder(folderId);
    if (!folder || folder->contents.size() != 1)
        fail("message lost");
    if (stringOf(folder->props, pst::propid::kDisplayName) != fuzz::storedText(folderName))
        fail("folder name changed", stringOf(folder->props, pst::propid::kDisplayName));
    const auto message = reader->message(folder->contents.front().rowId);
    if (!message)
        fail("message unreadable", message.error());
    if (stringOf(message->props, pst::propid::kSubject) !=
        fuzz::storedText(written.props.string(mapi::tags::kSubject)))
        fail("subject changed", stringOf(message->props, pst::propid::kSubject));
    if (message->recipients.size() != written.recipients.size())
        fail("recipients lost");
    for (std::size_t i = 0; i < written.recipients.size(); ++i)
        if (stringOf(message->recipients[i], pst::propid::kEmailAddress) !=
            fuzz::storedText(written.recipients[i].props.string(mapi::tags::kEmailAddress)))
            fail("recipient changed", stringOf(message->recipients[i], pst::propid::kEmailAddress));
    if (message->attachments.size() != contents.size())
        fail("attachments lost");
    for (std::size_t i = 0; i < contents.size(); ++i) {
        const auto bytes = reader->attachmentBytes(message->attachments[i]);
        if (!bytes || std::string(bytes->begin(), bytes->end()) != contents[i])
            fail("attachment bytes changed");
    }
    ::unlink(path.c_str());
    return 0;
}
