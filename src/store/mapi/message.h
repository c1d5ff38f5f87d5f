#pragma once
// The in-memory message model: property bags, messages with recipient rows and attachments (by
// value or embedded messages). Backends (PST, MSG, EML) take a Message after deriveOnSave() has
// filled in the properties Outlook computes when an item is saved.
#include "store/mapi/property.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace parvelle::mapi {

// Properties keyed by id (below 0x8000) and named properties keyed by their name. Accessors take
// a full tag but only its id is the key (a value's type travels with the value), so setting a
// property replaces any value of the same id or name whatever its type.
class PropertyBag {
public:
    // The tagged values in id order, each as a pair of id and value.
    class Tagged {
    public:
        class iterator {
        public:
            iterator(const PropertyBag& bag, std::size_t at) : bag_(&bag), at_(at) {}
            std::pair<std::uint16_t, const PropValue&> operator*() const {
                const Key& key = bag_->order_[at_];
                return {key.id, bag_->entries_[key.slot]};
            }
            iterator& operator++() {
                ++at_;
                return *this;
            }
            bool operator==(const iterator& other) const { return at_ == other.at_; }

        private:
            const PropertyBag* bag_;
            std::size_t at_;
        };
        explicit Tagged(const PropertyBag& bag) : bag_(bag) {}
        iterator begin() const { return {bag_, 0}; }
        iterator end() const { return {bag_, bag_.order_.size()}; }
        std::size_t size() const { return bag_.order_.size(); }

    private:
        const PropertyBag& bag_;
    };

    void set(PropTag tag, PropValue value);
    void setNamed(const NamedProperty& name, PropValue value);
    // Convenience setters for the common types.
    void setString(PropTag tag, std::string utf8) { set(tag, PropValue::unicode(std::move(utf8))); }
    void setInt(PropTag tag, std::int32_t v) { set(tag, PropValue::i4(v)); }
    void setBool(PropTag tag, bool v) { set(tag, PropValue::boolean(v)); }
    void setTime(PropTag tag, FileTime v) { set(tag, PropValue::time(v)); }
    void setBinary(PropTag tag, Binary v) { set(tag, PropValue::binary(std::move(v))); }

    const PropValue* get(PropTag tag) const;
    const PropValue* getNamed(const NamedProperty& name) const;
    bool has(PropTag tag) const { return get(tag) != nullptr; }
    bool remove(PropTag tag);
    bool removeNamed(const NamedProperty& name);

    // Typed reads with a fallback.
    std::string string(PropTag tag, std::string fallback = {}) const;
    // The same without a copy (empty when absent): valid while the value is not changed.
    std::string_view stringView(PropTag tag) const;
    std::int32_t int32(PropTag tag, std::int32_t fallback = 0) const;
    bool boolean(PropTag tag, bool fallback = false) const;

    Tagged tagged() const { return Tagged(*this); }
    const std::map<NamedProperty, PropValue>& named() const { return named_; }
    bool empty() const { return entries_.empty() && named_.empty(); }
    // Hands the values over without copying them (tagged ones in id order); the bag is left
    // empty.
    std::vector<std::pair<std::uint16_t, PropValue>> releaseTagged();
    std::map<NamedProperty, PropValue> releaseNamed() { return std::exchange(named_, {}); }

private:
    // Where `id` is or would go in order_.
    std::size_t position(std::uint16_t id) const;

    // A bag holds tens of values and is built on one thread and read on another: the values
    // live in one block, in the order they were first set, with their ids in order kept beside
    // them (each with where its value is), so that a look-up searches a few cache lines and
    // adding a value moves four-byte keys rather than values.
    struct Key {
        std::uint16_t id;
        std::uint16_t slot;
    };
    std::vector<PropValue> entries_;
    std::vector<Key> order_;
    std::map<NamedProperty, PropValue> named_;
};

// One recipient row: display name, address type, address and kind in its properties.
struct Recipient {
    PropertyBag props;

    static Recipient make(std::string displayName, std::string address, std::int32_t kind,
                          std::string addressType = "SMTP");
    std::string displayName() const;
    std::int32_t kind() const; // PidTagRecipientType (1 To, 2 Cc, 3 Bcc)
};

// Where the bytes of a by-value attachment come from. Small contents live in memory; large ones
// (files on disk) are read in pieces while the backend writes them, so no backend has to hold a
// whole attachment. `read` fills `out` from `offset` and returns false on an I/O error.
struct AttachmentContent {
    std::uint64_t size = 0;
    std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)> read;
    // True when `read` keeps working from any thread after the caller has let go of the message
    // and removed what it extracted: bytes held in memory, or part of a file the content keeps
    // open and nobody changes. A store may then read the bytes while it writes them instead of
    // copying them first.
    bool readableLater = false;
    // True when the bytes are held in memory (fromBytes): a queued message keeps them alive.
    bool inMemory = false;

    static AttachmentContent fromBytes(Binary bytes);
    // Reads the file when the backend asks; the size is taken now. Fails (nullopt) when the file
    // cannot be opened.
    static std::optional<AttachmentContent> fromFile(const std::string& path);
};

struct Message;

// An attachment: by value (content) or an embedded message (PidTagAttachMethod 5).
struct Attachment {
    PropertyBag props;
    AttachmentContent content;
    std::shared_ptr<Message> embedded;

    static Attachment byValue(std::string longFilename, Binary bytes);
    static Attachment byValue(std::string longFilename, AttachmentContent content);
    static Attachment embeddedMessage(std::string displayName, Message message);
    bool isEmbedded() const { return embedded != nullptr; }
};

struct Message {
    PropertyBag props;
    std::vector<Recipient> recipients;
    std::vector<Attachment> attachments;
};

// The size of the message's attachment contents, embedded messages' included, that `counts`:
// what a message handed to another thread keeps in memory, say.
std::uint64_t contentBytes(const Message& message,
                           const std::function<bool(const AttachmentContent&)>& counts);

} // namespace parvelle::mapi
