// The note kind (IPM.StickyNote, MS-OXONOTE).
//
// A note holds plain text only: HTMLBody sets PidTagBody (HTML turned into its text, plain text
// kept as it is, angle brackets included). Derived on save: Outlook's defaults for a new note,
// yellow (PidLidNoteColor 3), 200 by 166 pixels at the top left, unless set.
#include "store/component/item_kind.h"
#include "store/component/mail_item.h"
#include "store/mapi/html_text.h"
#include "store/mapi/tags.h"

namespace parvelle::component {
namespace {

class NoteKind : public ItemKind {
public:
    std::optional<Variant> invoke(MailItem& item, std::int32_t dispid, CallKind kind,
                                  std::span<const Variant> args) override {
        if (dispid == 0x1A && kind == CallKind::Put && !args.empty()) { // HTMLBody: the text
            const std::string text = args.back().toString();
            item.message().props.setString(
                mapi::tags::kBody, looksLikeHtml(text) ? mapi::htmlToPlainText(text) : text);
            return answered();
        }
        return std::nullopt;
    }
    void beforeSave(MailItem& item) override {
        const std::pair<std::uint32_t, std::int32_t> defaults[] = {
            {0x8B00, 3},   // PidLidNoteColor: yellow
            {0x8B02, 200}, // PidLidNoteWidth
            {0x8B03, 166}, // PidLidNoteHeight
            {0x8B04, 0},   // PidLidNoteX
            {0x8B05, 0},   // PidLidNoteY
        };
        for (const auto& [id, value] : defaults)
            if (item.getNamed(noteProp(id)) == nullptr)
                item.setNamed(noteProp(id), mapi::PropValue::i4(value));
    }
};

} // namespace

std::shared_ptr<ItemKind> makeNoteKind() {
    return std::make_shared<NoteKind>();
}

} // namespace parvelle::component
