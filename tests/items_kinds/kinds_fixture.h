#pragma once
// Contacts, events, tasks, notes and groups converted into a PST the way a save does: olmgen
// writes each folder's aggregate document, the splitter cuts it into items, and each item's
// document goes through its reader and writer into a store folder of a component session.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "items/item_conversion.h"
#include "items/item_readers.h"
#include "mailbox/job_state.h"
#include "mailbox/mailbox_converter.h"
#include "olmgen/documents.h"
#include "olmgen/olmgen.h"
#include "store/component/session.h"
#include "store/component/store_session.h"

namespace parvelle::items::test {

using ReaderFn = void (*)(MarkupDocument&, const component::ObjectRef&, ItemHolder&,
                          ItemConversion&);

// The item documents of one aggregate document, cut as the scanner cuts them.
inline std::vector<std::string> splitDocument(const std::string& document,
                                              mailbox::AggregateType type) {
    mailbox::JobState state;
    mailbox::JobFrontEnd ui;
    mailbox::MailboxConverter converter(state, ui);
    mailbox::ItemSource source{1000, static_cast<std::int64_t>(document.size())};
    converter.splitAggregate(source, document, "acct/folder", type);
    std::vector<std::string> items;
    for (const auto& r : converter.memberRecords())
        items.push_back(document.substr(static_cast<std::size_t>(r.offset - source.offset),
                                        static_cast<std::size_t>(r.size)));
    return items;
}

// Converts every item of `document` into `folder`; returns the log rows' statuses.
struct Conversion {
    mailbox::JobState state;
    mailbox::JobFrontEnd ui;
    ItemConversion conv{state, ui, [](const mailbox::ItemSource&) { return std::nullopt; }};

    void run(const std::string& document, mailbox::AggregateType type, const char* rootElement,
             ReaderFn reader, const component::ObjectRef& folder) {
        state.saveFormat = mailbox::SaveFormat::Pst;
        for (const std::string& item : splitDocument(document, type)) {
            MarkupDocument doc;
            doc.LoadBytes(item);
            ASSERT_TRUE(doc.FindSibling(rootElement)) << item;
            ItemHolder holder;
            conv.beginItem();
            try {
                reader(doc, folder, holder, conv);
            } catch (const component::ComponentError& e) {
                conv.markItemFailed("item", e.what());
            }
        }
    }
};

// A component session logged on to a new PST; `folder` finds or makes a top folder.
struct PstSession {
    component::Session session;
    component::ObjectRef root;

    explicit PstSession(const std::filesystem::path& path) {
        const component::ObjectRef store = session.logOnPst(path.string(), "");
        root = store->get(0x68).toObject();
    }
    component::ObjectRef folder(const std::string& name, const std::string& containerClass) {
        return component::EnsureStoreFolder(
            root, {name}, [] { return false; },
            [&](const std::string&, bool) { return containerClass; });
    }
};

} // namespace parvelle::items::test
