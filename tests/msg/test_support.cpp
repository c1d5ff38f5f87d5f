#include "test_support.h"

#include "platform/text.h"
#include "store/mapi/derived_properties.h"
#include "store/mapi/tags.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>

namespace parvelle::testing {

using namespace parvelle::mapi;

CommandResult runCommand(const std::string& command) {
    CommandResult r;
    std::FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return r;
    std::array<char, 65536> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        r.out.append(buf.data(), n);
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::optional<std::string> olefilePython() {
    const std::string python = "/usr/bin/python3";
    if (!std::filesystem::exists(python))
        return std::nullopt;
    if (runCommand(python + " -c 'import olefile' 2>/dev/null").exitCode != 0)
        return std::nullopt;
    return python;
}

std::optional<std::string> msgconvertProgram() {
    auto r = runCommand("command -v msgconvert 2>/dev/null");
    if (r.exitCode != 0 || r.out.empty())
        return std::nullopt;
    return std::string("msgconvert");
}

std::optional<std::string> msgreaderScript() {
    const std::filesystem::path dir =
        std::filesystem::path(PARVELLE_SOURCE_DIR) / "tools/oracles/msgreader";
    if (!std::filesystem::exists(dir / "node_modules/@kenjiuno/msgreader"))
        return std::nullopt;
    if (runCommand("command -v node >/dev/null 2>&1").exitCode != 0)
        return std::nullopt;
    return (dir / "dump.js").string();
}

// SHA-256 (FIPS 180-4), enough for comparing attachment bytes with the readers' digests.
namespace {
class Sha256 {
public:
    void update(std::span<const std::uint8_t> data) {
        for (std::uint8_t b : data) {
            block_[used_++] = b;
            if (used_ == 64) {
                compress();
                used_ = 0;
            }
        }
        length_ += data.size();
    }
    std::string hex() {
        const std::uint64_t bits = length_ * 8;
        const std::uint8_t pad = 0x80;
        update({&pad, 1});
        const std::uint8_t zero = 0;
        while (used_ != 56)
            update({&zero, 1});
        for (int i = 7; i >= 0; --i) {
            const std::uint8_t b = static_cast<std::uint8_t>(bits >> (8 * i));
            update({&b, 1});
        }
        std::string out;
        char buf[9];
        for (std::uint32_t v : h_) {
            std::snprintf(buf, sizeof buf, "%08x", v);
            out += buf;
        }
        return out;
    }

private:
    static std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
    void compress() {
        static constexpr std::uint32_t k[64] = {
            0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
            0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
            0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
            0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
            0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
            0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
            0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
            0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
            0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
            0xc67178f2};
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = (std::uint32_t(block_[4 * i]) << 24) | (std::uint32_t(block_[4 * i + 1]) << 16) |
                   (std::uint32_t(block_[4 * i + 2]) << 8) | block_[4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6],
                      h = h_[7];
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 =
                h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            const std::uint32_t t2 =
                (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h_[0] += a;
        h_[1] += b;
        h_[2] += c;
        h_[3] += d;
        h_[4] += e;
        h_[5] += f;
        h_[6] += g;
        h_[7] += h;
    }

    std::array<std::uint32_t, 8> h_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<std::uint8_t, 64> block_{};
    std::size_t used_ = 0;
    std::uint64_t length_ = 0;
};
} // namespace

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    Sha256 h;
    h.update(bytes);
    return h.hex();
}

std::string contentSha256(const AttachmentContent& content) {
    Sha256 h;
    std::vector<std::uint8_t> buf(1 << 20);
    for (std::uint64_t at = 0; at < content.size;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), content.size - at));
        if (!content.read(at, std::span<std::uint8_t>(buf.data(), n)))
            return "read error";
        h.update(std::span<const std::uint8_t>(buf.data(), n));
        at += n;
    }
    return h.hex();
}

namespace {

Binary bytesOf(std::string_view s) {
    return Binary(s.begin(), s.end());
}

NamedProperty lid(const Guid& set, std::uint32_t id) {
    return {set, id};
}
NamedProperty named(const Guid& set, std::string name) {
    return {set, std::move(name)};
}

const FileTime kSent = FileTime::fromUnixSeconds(1767225600); // 2026-01-01 00:00:00 UTC
const SaveOptions kSaveOptions{FileTime::fromUnixSeconds(1767312000)};

} // namespace

Message sampleMail(const std::string& largeAttachmentPath) {
    Message inner;
    inner.props.setString(tags::kSubject, "FW: Вложенное сообщение ✉");
    inner.props.setString(tags::kBody, "Inner body — 内部の本文.\r\n");
    inner.props.setString(tags::kSenderName, "Inner Sender");
    inner.props.setString(tags::kSenderEmail, "inner@example.org");
    inner.props.setTime(tags::kClientSubmitTime, kSent);
    inner.recipients.push_back(Recipient::make("Ivan Petrov", "ivan@example.ru", tags::kRecipTo));
    inner.attachments.push_back(Attachment::byValue("inner.txt", bytesOf("inner attachment\n")));
    inner.props.setNamed(named(psets::kPublicStrings, "InnerTag"), PropValue::unicode("nested"));

    Message m;
    m.props.setString(tags::kSubject, "RE: Quarterly 報告 — تقرير الربع 📈");
    m.props.setString(tags::kBody, "Plain body: 日本語のテキスト, نص عربي, emoji 🎉👍.\r\n"
                                   "Second line.\r\n");
    const std::string html = "<html><head><meta charset=\"utf-8\"></head><body><p>HTML body: "
                             "日本語 — العربية — 🎉</p></body></html>";
    m.props.setBinary(tags::kHtml, bytesOf(html));
    m.props.setString(tags::kSenderName, "Zoë Ünal");
    m.props.setString(tags::kSenderEmail, "zoe@example.com");
    m.props.setTime(tags::kClientSubmitTime, kSent);
    m.props.setTime(tags::kMessageDeliveryTime, kSent);
    m.props.setInt(tags::kImportance, 2);
    m.props.set(tags::kConversationIndex, PropValue::binary(Binary{1, 2, 3, 4, 5}));
    m.props.set(makeTag(0x1001, PropType::String8), PropValue::string8("caf\xE9")); // cp1252
    m.props.setInt(tags::kMessageCodepage, 1252);
    m.props.set(makeTag(0x6700, PropType::I8), PropValue::i8(-1234567890123LL));
    m.props.set(makeTag(0x6701, PropType::Double), PropValue::real(3.25));
    m.props.set(makeTag(0x6702, PropType::I2), PropValue::i2(-7));
    m.props.set(makeTag(0x6703, PropType::Guid), PropValue::guid(psets::kCommon));
    m.props.set(makeTag(0x6704, PropType::MvLong), PropValue::multiLong({1, -2, 3}));
    m.props.set(makeTag(0x6705, PropType::MvBinary),
                PropValue::multiBinary({Binary{0xAA}, Binary{}, Binary{1, 2, 3}}));
    m.props.set(makeTag(0x6706, PropType::MvString8),
                PropValue(PropType::MvString8, std::vector<std::string>{"na\xEFve", "plain"}));
    m.props.set(makeTag(0x6707, PropType::MvSysTime),
                PropValue(PropType::MvSysTime, std::vector<FileTime>{kSent, FileTime{1}}));

    m.recipients.push_back(Recipient::make("山田 太郎", "taro@example.jp", tags::kRecipTo));
    m.recipients.push_back(Recipient::make("Ana Müller", "ana@example.de", tags::kRecipTo));
    m.recipients.push_back(Recipient::make("محمد علي", "mohamed@example.eg", tags::kRecipCc));
    m.recipients.push_back(Recipient::make("Hidden Person", "hidden@example.com", tags::kRecipBcc));

    m.attachments.push_back(Attachment::byValue("notes.txt", bytesOf("small attachment ✓\n")));
    auto large = AttachmentContent::fromFile(largeAttachmentPath);
    if (large)
        m.attachments.push_back(Attachment::byValue("large video.bin", std::move(*large)));
    m.attachments.push_back(Attachment::byValue("empty.dat", Binary{}));
    m.attachments.push_back(
        Attachment::byValue("weird name #1 (ß) 日本語 ; \"quoted\".tar.gz", bytesOf("odd")));
    Binary exactCutoff(4096);
    for (std::size_t i = 0; i < exactCutoff.size(); ++i)
        exactCutoff[i] = static_cast<std::uint8_t>(i * 7);
    m.attachments.push_back(Attachment::byValue("noextension", std::move(exactCutoff)));
    m.attachments.push_back(Attachment::embeddedMessage("Вложенное сообщение", std::move(inner)));

    m.props.setNamed(named(psets::kPublicStrings, "Keywords"),
                     PropValue::multiUnicode({"Работа", "重要"}));
    m.props.setNamed(named(psets::kPublicStrings, "x-custom-label"),
                     PropValue::unicode("ラベル ✓"));
    m.props.setNamed(named(psets::kInternetHeaders, "x-mailer"), PropValue::unicode("Parvelle"));
    m.props.setNamed(lid(psets::kCommon, 0x8580), PropValue::unicode("account@example.com"));
    m.props.setNamed(lid(psets::kCommon, 0x8503), PropValue::boolean(true));
    m.props.setNamed(lid(psets::kCommon, 0x8501), PropValue::i4(15));
    m.props.setNamed(lid(psets::kCommon, 0x8502), PropValue::time(kSent));
    m.props.setNamed(lid(psets::kCommon, 0x85C0),
                     PropValue::binary(Binary{0xDE, 0xAD, 0xBE, 0xEF}));
    m.props.setNamed(lid(psets::kMapi, 0x8001), PropValue::unicode("PS_MAPI numbered name"));
    m.attachments.front().props.setNamed(lid(psets::kCommon, 0x85A0), PropValue::i4(42));
    m.recipients.front().props.setNamed(named(psets::kPublicStrings, "RecipientNote"),
                                        PropValue::unicode("first"));
    deriveOnSave(m, kSaveOptions);
    return m;
}

Message sampleContact() {
    Message m;
    m.props.setString(tags::kMessageClass, "IPM.Contact");
    m.props.setString(tags::kSubject, "Søren Kierkegaard");
    m.props.setString(tags::kDisplayName, "Søren Kierkegaard");
    m.props.setString(makeTag(0x3A06, PropType::Unicode), "Søren");       // PidTagGivenName
    m.props.setString(makeTag(0x3A11, PropType::Unicode), "Kierkegaard"); // PidTagSurname
    m.props.setString(makeTag(0x3A16, PropType::Unicode), "Københavns Universitet");
    m.props.setString(makeTag(0x3A08, PropType::Unicode), "+45 12 34 56 78");
    m.props.setString(tags::kBody, "Notes about the contact.\r\n");
    m.props.setNamed(lid(psets::kAddress, 0x8005), PropValue::unicode("Kierkegaard, Søren"));
    m.props.setNamed(lid(psets::kAddress, 0x8080), PropValue::unicode("Søren (soren@example.dk)"));
    m.props.setNamed(lid(psets::kAddress, 0x8082), PropValue::unicode("SMTP"));
    m.props.setNamed(lid(psets::kAddress, 0x8083), PropValue::unicode("soren@example.dk"));
    m.props.setNamed(lid(psets::kAddress, 0x8084), PropValue::unicode("soren@example.dk"));
    m.props.setNamed(lid(psets::kAddress, 0x8029), PropValue::i4(1));
    m.props.setNamed(lid(psets::kAddress, 0x8028), PropValue::multiLong({0}));
    deriveOnSave(m, kSaveOptions);
    return m;
}

Message sampleAppointment() {
    Message m;
    m.props.setString(tags::kMessageClass, "IPM.Appointment");
    m.props.setString(tags::kSubject, "Planning — 計画会議");
    m.props.setString(tags::kBody, "Agenda: budget, roadmap.\r\n");
    const FileTime start = FileTime::fromUnixSeconds(1767693600); // 2026-01-06 10:00 UTC
    const FileTime end = FileTime::fromUnixSeconds(1767697200);
    m.props.setNamed(lid(psets::kAppointment, 0x820D), PropValue::time(start));
    m.props.setNamed(lid(psets::kAppointment, 0x820E), PropValue::time(end));
    m.props.setNamed(lid(psets::kAppointment, 0x8208), PropValue::unicode("Salle 3 — 会議室"));
    m.props.setNamed(lid(psets::kAppointment, 0x8205), PropValue::i4(2));
    m.props.setNamed(lid(psets::kAppointment, 0x8215), PropValue::boolean(false));
    m.props.setNamed(lid(psets::kAppointment, 0x8213), PropValue::i4(60));
    m.props.setNamed(lid(psets::kCommon, 0x8503), PropValue::boolean(true));
    m.props.setNamed(lid(psets::kCommon, 0x8501), PropValue::i4(15));
    m.props.setNamed(lid(psets::kCommon, 0x8516), PropValue::time(start));
    m.props.setNamed(lid(psets::kCommon, 0x8517), PropValue::time(end));
    m.recipients.push_back(Recipient::make("Attendee Ωmega", "omega@example.gr", tags::kRecipTo));
    deriveOnSave(m, kSaveOptions);
    return m;
}

namespace {

std::string normalized(std::string s, bool loose) {
    if (!loose)
        return s;
    std::string out;
    for (char c : s)
        if (c != '\r')
            out += c;
    const auto first = out.find_first_not_of(" \n\t");
    const auto last = out.find_last_not_of(" \n\t");
    return first == std::string::npos ? std::string() : out.substr(first, last - first + 1);
}

std::string hexOf(const Binary& b) {
    std::string out;
    char buf[3];
    for (std::uint8_t x : b) {
        std::snprintf(buf, sizeof buf, "%02x", x);
        out += buf;
    }
    return out;
}

// The text a reader reports for a named property's value, or nullopt for types not compared.
std::optional<std::string> namedValueText(const PropValue& v) {
    switch (v.type()) {
    case PropType::Unicode:
        return *v.asString();
    case PropType::Long:
        return std::to_string(*v.asInt32());
    case PropType::Boolean:
        return *v.asBool() ? "true" : "false";
    case PropType::SysTime:
        return std::to_string(v.asTime()->toUnixSeconds());
    case PropType::Binary:
        return hexOf(*v.asBinary());
    default:
        return std::nullopt;
    }
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

const JsonValue* findNamed(const JsonValue& named, const NamedProperty& name) {
    const std::string set = lower(name.propertySet.toString());
    std::string key;
    if (name.isNumeric()) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", std::get<std::uint32_t>(name.name));
        key = buf;
    } else {
        key = std::get<std::string>(name.name);
    }
    for (const std::string& candidate : {set + "/" + key, "*/" + key})
        if (auto it = named.members.find(candidate); it != named.members.end())
            return &it->second;
    return nullptr;
}

const char* kindName(std::int32_t kind) {
    switch (kind) {
    case tags::kRecipCc:
        return "cc";
    case tags::kRecipBcc:
        return "bcc";
    default:
        return "to";
    }
}

} // namespace

void expectSummaryMatches(const JsonValue& s, const Message& m, const ReaderGaps& gaps,
                          const std::string& reader) {
    SCOPED_TRACE(reader);
    const auto& p = m.props;
    EXPECT_EQ(normalized(s["subject"].str(), gaps.looseText),
              normalized(p.string(tags::kSubject), gaps.looseText));
    if (!gaps.messageClass) {
        EXPECT_EQ(s["messageClass"].str(), p.string(tags::kMessageClass));
    }
    if (p.has(tags::kSenderEmail)) {
        EXPECT_EQ(s["senderName"].str(), p.string(tags::kSenderName));
        EXPECT_EQ(s["senderEmail"].str(), p.string(tags::kSenderEmail));
    }
    EXPECT_EQ(normalized(s["body"].str(), gaps.looseText),
              normalized(p.string(tags::kBody), gaps.looseText));
    if (const PropValue* html = p.get(tags::kHtml); html && html->asBinary()) {
        const Binary& b = *html->asBinary();
        EXPECT_EQ(normalized(s["html"].str(), gaps.looseText),
                  normalized(std::string(b.begin(), b.end()), gaps.looseText));
    }

    std::vector<const Recipient*> recipients;
    for (const Recipient& r : m.recipients)
        if (!(gaps.bcc && r.kind() == tags::kRecipBcc))
            recipients.push_back(&r);
    const JsonValue& rs = s["recipients"];
    ASSERT_EQ(rs.size(), recipients.size());
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        EXPECT_EQ(rs[i]["name"].str(), recipients[i]->displayName());
        EXPECT_EQ(rs[i]["email"].str(), recipients[i]->props.string(tags::kEmailAddress));
        EXPECT_EQ(rs[i]["kind"].str(), kindName(recipients[i]->kind()));
    }

    const JsonValue& as = s["attachments"];
    ASSERT_EQ(as.size(), m.attachments.size());
    for (std::size_t i = 0; i < m.attachments.size(); ++i) {
        const Attachment& a = m.attachments[i];
        SCOPED_TRACE("attachment " + std::to_string(i));
        if (a.isEmbedded()) {
            ASSERT_FALSE(as[i]["embedded"].isNull());
            ReaderGaps inner = gaps;
            inner.named = true; // readers report the embedded message's names unevenly
            expectSummaryMatches(as[i]["embedded"], *a.embedded, inner, reader + " (embedded)");
            continue;
        }
        EXPECT_EQ(as[i]["name"].str(), a.props.string(tags::kAttachLongFilename));
        EXPECT_EQ(as[i]["size"].str(), std::to_string(a.content.size));
        EXPECT_EQ(as[i]["sha256"].str(), contentSha256(a.content));
    }

    if (gaps.named)
        return;
    for (const auto& [name, value] : p.named()) {
        auto text = namedValueText(value);
        if (!text)
            continue;
        const JsonValue* got = findNamed(s["named"], name);
        const std::string label =
            name.propertySet.toString() + "/" +
            (name.isNumeric() ? std::to_string(std::get<std::uint32_t>(name.name))
                              : std::get<std::string>(name.name));
        if (name.propertySet == psets::kMapi && name.isNumeric() &&
            std::get<std::uint32_t>(name.name) < kFirstNamedId)
            continue; // stored as the ordinary property of that id
        if (!got) {
            ADD_FAILURE() << "named property " << label << " missing";
            continue;
        }
        EXPECT_EQ(got->str(), *text) << "named property " << label;
    }
}

} // namespace parvelle::testing
