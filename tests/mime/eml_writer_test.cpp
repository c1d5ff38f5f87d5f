// The EML writer's output is read back with Python's standard e-mail parser (check_eml.py), which
// must report no defect and return what the writer was given.
#include "store/mime/eml_writer.h"
#include "store/mime/transfer_encoding.h"

#include "platform/json.h"
#include "store/mapi/derived_properties.h"
#include "store/mapi/tags.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace parvelle::mime {
namespace {

namespace fs = std::filesystem;
namespace tags = mapi::tags;

using parvelle::testing::TempDir;

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Person {
    std::string name;
    std::string address;
};

struct AttachmentSpec {
    std::string name;
    std::string bytes;
    std::string contentId;
};

// What a test gives the writer, in the shape the checker compares against.
struct MailSpec {
    std::string subject;
    Person from;
    std::vector<Person> to, cc, bcc;
    std::string plain;
    std::string html;
    std::vector<AttachmentSpec> attachments;
};

mapi::Message makeMessage(const MailSpec& spec) {
    mapi::Message m;
    m.props.setString(tags::kSubject, spec.subject);
    if (!spec.from.address.empty() || !spec.from.name.empty()) {
        m.props.setString(tags::kSenderName, spec.from.name);
        m.props.setString(tags::kSenderEmail, spec.from.address);
    }
    auto add = [&](const std::vector<Person>& people, std::int32_t kind) {
        for (const Person& p : people)
            m.recipients.push_back(mapi::Recipient::make(p.name, p.address, kind));
    };
    add(spec.to, tags::kRecipTo);
    add(spec.cc, tags::kRecipCc);
    add(spec.bcc, tags::kRecipBcc);
    if (!spec.plain.empty())
        m.props.setString(tags::kBody, spec.plain);
    if (!spec.html.empty())
        m.props.setBinary(tags::kHtml, mapi::Binary(spec.html.begin(), spec.html.end()));
    for (const AttachmentSpec& a : spec.attachments) {
        m.attachments.push_back(
            mapi::Attachment::byValue(a.name, mapi::Binary(a.bytes.begin(), a.bytes.end())));
        if (!a.contentId.empty())
            m.attachments.back().props.setString(tags::kAttachContentId, a.contentId);
    }
    return m;
}

void writePeople(json::Writer& w, const char* key, const std::vector<Person>& people) {
    w.key(key);
    if (people.empty()) {
        w.null();
        return;
    }
    w.beginArray();
    for (const Person& p : people)
        w.beginArray()
            .value(p.name == p.address ? std::string() : p.name)
            .value(p.address)
            .endArray();
    w.endArray();
}

// The checker's expectation for `spec`; attachment bytes go to files in `dir`.
void writeExpectation(json::Writer& w, const MailSpec& spec, const TempDir& dir) {
    w.beginObject();
    w.key("subject").value(spec.subject);
    writePeople(w, "from",
                spec.from.address.empty() ? std::vector<Person>{} : std::vector<Person>{spec.from});
    writePeople(w, "to", spec.to);
    writePeople(w, "cc", spec.cc);
    writePeople(w, "bcc", spec.bcc);
    w.key("plain");
    if (spec.plain.empty() && !spec.html.empty())
        w.null();
    else
        w.value(spec.plain);
    w.key("html");
    if (spec.html.empty())
        w.null();
    else
        w.value(spec.html);
    w.key("attachments").beginArray();
    static int counter = 0;
    for (const AttachmentSpec& a : spec.attachments) {
        const fs::path bytes = dir / ("given-" + std::to_string(++counter));
        writeFile(bytes, a.bytes);
        w.beginObject().key("name").value(a.name).key("bytes_file").value(bytes.string());
        if (!a.contentId.empty())
            w.key("disposition").value("inline").key("content_id").value("<" + a.contentId + ">");
        w.endObject();
    }
    w.endArray();
    w.endObject();
}

struct CheckResult {
    int status = -1;
    std::string output;
};

// Runs the checker on an EML file against a JSON expectation.
CheckResult check(const fs::path& eml, const std::string& expectation, const TempDir& dir) {
    const fs::path expectPath = dir / "expect.json";
    writeFile(expectPath, expectation);
    const std::string command = "/usr/bin/python3 '" PARVELLE_SOURCE_DIR
                                "/tests/mime/check_eml.py' '" +
                                eml.string() + "' '" + expectPath.string() + "' 2>&1";
    CheckResult result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0)
        result.output.append(buf.data(), n);
    result.status = ::pclose(pipe);
    return result;
}

// Writes `message` with writeEmlFile and checks it against `expectation`.
void expectRoundTrip(const mapi::Message& message, const std::string& expectation,
                     const TempDir& dir) {
    const fs::path eml = dir / "out.eml";
    const EmlResult written = writeEmlFile(message, eml.string());
    ASSERT_TRUE(written) << written.error;
    const CheckResult checked = check(eml, expectation, dir);
    EXPECT_EQ(checked.status, 0) << checked.output << "\n--- file ---\n" << readFile(eml);
}

void expectRoundTrip(const MailSpec& spec) {
    TempDir dir;
    json::Writer w;
    writeExpectation(w, spec, dir);
    expectRoundTrip(makeMessage(spec), w.str(), dir);
}

const std::string kLongSubject =
    "Quarterly planning: budgets, hiring, the roadmap for Q3/Q4 and what we learned from the "
    "launch of the new product line in three regions (EMEA, APAC, Americas) — final version";

struct HeaderCase {
    const char* label;
    MailSpec spec;
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.label;
}

class EmlHeaders : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(EmlHeaders, PythonReadsBackWithoutDefects) {
    expectRoundTrip(GetParam().spec);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EmlHeaders,
    ::testing::Values(
        HeaderCase{"Ascii",
                   {"Lunch",
                    {"Ann Lee", "ann@example.com"},
                    {{"Bob", "bob@example.com"}},
                    {},
                    {},
                    "See you at noon.\r\nAnn\r\n",
                    "",
                    {}}},
        HeaderCase{"Cjk",
                   {"会議の議事録と来週の予定について（第二版）",
                    {"山田 太郎", "taro@example.jp"},
                    {{"李小龙", "lee@example.cn"}, {"김민수", "kim@example.kr"}},
                    {{"田中 花子", "hanako@example.jp"}},
                    {},
                    "本文です。\r\n二行目。\r\n",
                    "<p>本文です。</p>",
                    {}}},
        HeaderCase{"Arabic",
                   {"اجتماع الفريق غداً في الساعة العاشرة صباحاً لمناقشة الميزانية",
                    {"محمد علي", "m.ali@example.com"},
                    {{"فاطمة الزهراء", "f@example.com"}},
                    {},
                    {},
                    "مرحبا بكم جميعاً",
                    "",
                    {}}},
        HeaderCase{
            "Emoji",
            {"🎉🎉 Party time 🥳 — bring 🍕 and 🎂 👨‍👩‍👧‍👦 🇯🇵",
             {"😀 Smiley", "smile@example.com"},
             {{"👩‍💻 Dev", "dev@example.com"}},
             {},
             {},
             "Fun 🎈 ahead",
             "<b>Fun 🎈</b>",
             {}}},
        HeaderCase{"LongSubjects",
                   {kLongSubject + " " + kLongSubject + " Ünïcödé ending ✓",
                    {"A very long display name that goes on and on, beyond any line length",
                     "long.name.person@subdomain.example.org"},
                    {{"Recipient One With A Long Name", "one@example.com"},
                     {"Recipient Two With A Long Name", "two@example.com"},
                     {"Recipient Three Ünïcödé", "three@example.com"},
                     {"Recipient Four", "four@example.com"}},
                    {},
                    {},
                    std::string(3000, 'x'),
                    "",
                    {}}},
        HeaderCase{"Specials",
                   {"Re: \"quoted\", with; semicolons: and (parens)",
                    {"Doe, John \"JD\"", "jd@example.com"},
                    {{"Smith; Jane", "jane@example.com"},
                     {"O'Brien, Pat (Sales)", "pat@example.com"},
                     {"back\\slash \"q\" Ünï, x;y", "bs@example.com"}},
                    {{"a@b.example", "a@b.example"}},
                    {},
                    "Body",
                    "",
                    {}}},
        HeaderCase{"TransportSensitiveBody",
                   {"Body lines",
                    {"Ann", "ann@example.com"},
                    {{"Bob", "bob@example.com"}},
                    {},
                    {},
                    "From the start\n.\nTrailing space \nTab\t\n= sign =3D =\n" +
                        std::string(200, 'w') + "\ncafé " + std::string(90, 'x') +
                        "é\r\nlone\rcarriage return\n\n",
                    "",
                    {}}},
        HeaderCase{"EmptyEverything", {"", {}, {}, {}, {}, "", "", {}}},
        HeaderCase{"HtmlOnly",
                   {"Only HTML",
                    {"", "x@example.com"},
                    {},
                    {},
                    {},
                    "",
                    "<html><body><p>Héllo <i>world</i></p></body></html>",
                    {}}},
        HeaderCase{"BccAndNonAscii",
                   {"Bcc test",
                    {"Zoë Ünal", "zoe@example.com"},
                    {{"To One", "to@example.com"}},
                    {},
                    {{"Blind Ünïcödé", "blind@example.com"}},
                    "Ç'est la vie",
                    "",
                    {}}}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.label); });

std::string patternBytes(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(gen());
    return bytes;
}

TEST(EmlAttachments, OddFileNamesAndBytesSurvive) {
    MailSpec spec{"Files",
                  {"Ann", "ann@example.com"},
                  {{"Bob", "bob@example.com"}},
                  {},
                  {},
                  "See attached.",
                  "<p>See <img src=\"cid:logo@parvelle\"></p>",
                  {}};
    const std::vector<std::string> names = {
        "report.pdf",
        "Übersicht Q3 – final.xlsx",
        "報告書_2024年度_最終版_確認済み_本当に最終.docx",
        "تقرير.txt",
        "🎉 party 🥳.png",
        "quote\"semi;comma,paren(1).txt",
        "spaces   and\ttab.bin",
        std::string(150, 'n') + ".dat",
        "日本語" + std::string(60, 'a') + "ファイル名.txt",
        "no_extension",
        "-",
    };
    unsigned seed = 1;
    for (const std::string& name : names)
        spec.attachments.push_back({name, patternBytes(seed * 37, seed), {}}), ++seed;
    spec.attachments.push_back({"", std::string(), {}}); // empty attachment, no name
    spec.attachments.push_back({"logo.png", patternBytes(500, 99), "logo@parvelle"});

    TempDir dir;
    json::Writer w;
    MailSpec expected = spec;
    expected.attachments[names.size()].name = "attachment";
    expected.attachments[names.size() + 1].name = "logo.png";
    // Tabs cannot stay in a header value; they become spaces.
    std::replace(expected.attachments[6].name.begin(), expected.attachments[6].name.end(), '\t',
                 ' ');
    writeExpectation(w, expected, dir);
    expectRoundTrip(makeMessage(spec), w.str(), dir);
}

TEST(EmlAttachments, EmbeddedMessagesBecomeMessageParts) {
    MailSpec innerSpec{"Inner Ünïcödé subject",
                       {"Carl", "carl@example.com"},
                       {{"Dana", "dana@example.com"}},
                       {},
                       {},
                       "Inner body",
                       "",
                       {{"inner.txt", "inner bytes", {}}}};
    mapi::Message inner = makeMessage(innerSpec);
    mapi::Message outer = makeMessage({"Fwd: Inner",
                                       {"Ann", "ann@example.com"},
                                       {},
                                       {},
                                       {},
                                       "Forwarding",
                                       "",
                                       {{"a.bin", "abc", {}}}});
    outer.attachments.push_back(mapi::Attachment::embeddedMessage("Inner Ünïcödé subject", inner));

    TempDir dir;
    json::Writer w;
    w.beginObject().key("subject").value("Fwd: Inner").key("plain").value("Forwarding");
    w.key("attachments").beginArray();
    writeFile(dir / "a", "abc");
    w.beginObject().key("name").value("a.bin").key("bytes_file").value((dir / "a").string());
    w.endObject();
    w.beginObject().key("name").value("Inner Ünïcödé subject.eml").key("embedded");
    writeExpectation(w, innerSpec, dir);
    w.endObject().endArray().endObject();
    expectRoundTrip(outer, w.str(), dir);
}

TEST(EmlHeadersFromModel, DateMessageIdImportanceAndExchangeSender) {
    mapi::Message m = makeMessage({"Dated", {}, {{"Bob", "bob@example.com"}}, {}, {}, "x", "", {}});
    m.props.setString(tags::kSenderName, "Exchange User");
    m.props.setString(tags::kSenderAddrType, "EX");
    m.props.setString(tags::kSenderEmail, "/o=Org/ou=Group/cn=Recipients/cn=user");
    m.props.setString(mapi::makeTag(0x5D01, mapi::PropType::Unicode), "user@corp.example");
    m.props.setTime(tags::kClientSubmitTime, mapi::FileTime::fromUnixSeconds(1700000000));
    m.props.setTime(tags::kMessageDeliveryTime, mapi::FileTime::fromUnixSeconds(1700000300));
    m.props.setString(tags::kInternetMessageId, "<abc.123@mail.example>");
    m.props.setInt(tags::kImportance, 2);
    // A recipient known only by name still appears.
    m.recipients.push_back(mapi::Recipient::make("Only A Name", "", tags::kRecipCc));
    mapi::deriveOnSave(m);

    TempDir dir;
    json::Writer w;
    w.beginObject();
    w.key("subject").value("Dated").key("date").value(1700000000);
    w.key("message_id").value("<abc.123@mail.example>").key("importance").value("high");
    w.key("from").beginArray().beginArray().value("Exchange User").value("user@corp.example");
    w.endArray().endArray();
    w.key("cc").beginArray().beginArray().value("Only A Name").value("").endArray().endArray();
    w.key("plain").value("x").key("html").null();
    w.endObject();
    expectRoundTrip(m, w.str(), dir);
}

TEST(EmlHeaderEncoding, EncodedWordsNeverSplitACharacterWhateverTheAlignment) {
    // Shifting the text by one to three bytes moves every word boundary across the 3- and
    // 4-byte sequences; the checker decodes each encoded word on its own.
    for (int shift = 0; shift < 4; ++shift) {
        SCOPED_TRACE(shift);
        const std::string pad(static_cast<std::size_t>(shift), 'a');
        MailSpec spec{pad + "😀漢字😀 emoji and kanji mixed 😀😀😀漢字漢字漢字 " + pad + "éü😀",
                      {pad + "名前😀", "n@example.com"},
                      {},
                      {},
                      {},
                      "x",
                      "",
                      {}};
        spec.attachments.push_back({pad + "😀漢字😀漢字😀漢字😀漢字😀漢字😀漢字.txt", "x", {}});
        expectRoundTrip(spec);
    }
}

TEST(EmlBodies, HtmlInAnotherCodePageIsSentAsUtf8) {
    mapi::Message m = makeMessage({"Code page", {}, {}, {}, {}, "caf\xC3\xA9", "", {}});
    const std::string html = "<p>caf\xE9 \x80</p>"; // windows-1252: e acute, euro sign
    m.props.setBinary(tags::kHtml, mapi::Binary(html.begin(), html.end()));
    m.props.setInt(tags::kInternetCodepage, 1252);
    TempDir dir;
    json::Writer w;
    w.beginObject().key("subject").value("Code page").key("plain").value("café");
    w.key("html").value("<p>café €</p>").endObject();
    expectRoundTrip(m, w.str(), dir);
}

TEST(EmlStreaming, LargeFileAttachmentIsReadInPieces) {
    TempDir dir;
    const fs::path source = dir / "big.bin";
    const std::string big = patternBytes(24u << 20, 7);
    writeFile(source, big);
    auto content = mapi::AttachmentContent::fromFile(source.string());
    ASSERT_TRUE(content);
    std::size_t largestRead = 0;
    auto read = content->read;
    content->read = [&largestRead, read](std::uint64_t offset, std::span<std::uint8_t> out) {
        largestRead = std::max(largestRead, out.size());
        return read(offset, out);
    };
    mapi::Message m = makeMessage({"Big", {"Ann", "ann@example.com"}, {}, {}, {}, "big", "", {}});
    m.attachments.push_back(mapi::Attachment::byValue("big.bin", *content));

    json::Writer w;
    w.beginObject().key("subject").value("Big").key("plain").value("big");
    w.key("attachments").beginArray();
    w.beginObject().key("name").value("big.bin").key("bytes_file").value(source.string());
    w.endObject().endArray().endObject();
    expectRoundTrip(m, w.str(), dir);
    EXPECT_GT(largestRead, 0u);
    EXPECT_LE(largestRead, 1u << 20);
}

TEST(EmlFile, FailedAttachmentReadLeavesNoFile) {
    TempDir dir;
    mapi::Message m = makeMessage({"Broken", {}, {}, {}, {}, "x", "", {}});
    mapi::AttachmentContent content;
    // Fails part-way whatever pieces the writer reads in (up to 1.5 MB).
    content.size = 3000000;
    content.read = [](std::uint64_t offset, std::span<std::uint8_t> out) {
        std::fill(out.begin(), out.end(), std::uint8_t{'a'});
        return offset + out.size() <= 1500000;
    };
    m.attachments.push_back(mapi::Attachment::byValue("half.bin", content));
    const fs::path target = dir / "broken.eml";
    const EmlResult result = writeEmlFile(m, target.string());
    EXPECT_FALSE(result);
    EXPECT_FALSE(result.error.empty());
    EXPECT_TRUE(fs::is_empty(dir.path())) << "a partial or temporary file was left behind";
    std::string out = "old";
    EXPECT_FALSE(writeEml(m, out));
    EXPECT_TRUE(out.empty());
}

TEST(EmlFile, ReplacesReservedFileAndLeavesNoTemporaryFile) {
    TempDir dir;
    const fs::path target = dir / "reserved.eml";
    writeFile(target, ""); // the name reserved by the export, empty until written
    mapi::Message m = makeMessage({"Replace", {}, {}, {}, {}, "body text", "", {}});
    ASSERT_TRUE(writeEmlFile(m, target.string()));
    std::string inMemory;
    ASSERT_TRUE(writeEml(m, inMemory));
    const std::string onDisk = readFile(target);
    EXPECT_NE(onDisk.find("Subject: Replace\r\n"), std::string::npos);
    EXPECT_EQ(onDisk, inMemory);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// A file the caller reserved is filled in place, not replaced: the same file (inode) holds the
// bytes afterwards, and no other file was made. A failed write leaves the reserved file to the
// caller, who removes it, and makes none of its own.
TEST(EmlFile, ReservedFileIsFilledInPlace) {
    TempDir dir;
    mapi::Message good = makeMessage({"In place", {}, {}, {}, {}, "body text", "", {}});
    mapi::Message broken = makeMessage({"Broken", {}, {}, {}, {}, "x", "", {}});
    mapi::AttachmentContent content;
    content.size = 3000000;
    content.read = [](std::uint64_t offset, std::span<std::uint8_t> out) {
        std::fill(out.begin(), out.end(), std::uint8_t{'a'});
        return offset == 0;
    };
    broken.attachments.push_back(mapi::Attachment::byValue("half.bin", content));
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "failing write" : "complete write");
        const fs::path target = dir / "reserved.eml";
        const int fd = ::open(target.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        struct stat before {};
        ::fstat(fd, &before);
        const EmlResult result = writeEmlFile(fails ? broken : good, {target.string(), fd});
        ::close(fd);
        EXPECT_EQ(static_cast<bool>(result), !fails) << result.error;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
        struct stat after {};
        ASSERT_EQ(::stat(target.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        if (!fails) {
            std::string inMemory;
            ASSERT_TRUE(writeEml(good, inMemory));
            EXPECT_EQ(readFile(target), inMemory);
        }
        fs::remove(target);
    }
}

// Base64 lines: the test vectors of RFC 4648 on one line, and long contents cut into lines of
// 76 characters that join to the one-line form, whether encoded at once or in pieces of whole
// lines.
TEST(TransferEncoding, Base64LinesJoinToTheOneLineForm) {
    const std::pair<std::string, std::string> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    for (const auto& [bytes, encoded] : vectors) {
        EXPECT_EQ(base64Encode(bytes), encoded);
        EXPECT_EQ(base64Lines(bytes), encoded.empty() ? "" : encoded + "\r\n");
    }
    std::mt19937 random(7);
    for (const std::size_t size : {56, 57, 58, 113, 114, 115, 1000, 57 * 40 + 1}) {
        SCOPED_TRACE(size);
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random());
        const std::string lines = base64Lines(bytes);
        EXPECT_EQ(lines.size(), base64LinesSize(size));
        std::string joined;
        for (std::size_t at = 0; at < lines.size();) {
            const std::size_t end = lines.find("\r\n", at);
            ASSERT_NE(end, std::string::npos);
            EXPECT_LE(end - at, 76u);
            if (end + 2 < lines.size()) {
                EXPECT_EQ(end - at, 76u);
            }
            joined += lines.substr(at, end - at);
            at = end + 2;
        }
        EXPECT_EQ(joined, base64Encode(bytes));
        std::string pieces;
        for (std::size_t at = 0; at < size; at += kBase64LineBytes * 3)
            pieces += base64Lines(std::string_view(bytes).substr(at, kBase64LineBytes * 3));
        EXPECT_EQ(pieces, lines);
    }
}

// Quoted-printable lines: at most 76 characters, none starting with "." or "From " (not even
// after a soft line break), and decoding gives the text back.
TEST(TransferEncoding, QuotedPrintableLinesAreSafeAndDecodeToTheText) {
    const std::string texts[] = {std::string(75, 'a') + ".b",
                                 std::string(74, 'a') + "From here",
                                 std::string(73, 'a') + "= .\n.dot",
                                 "From the start\n.\nend \n",
                                 std::string(200, 'x') + "\t\n\xc3\xa9",
                                 std::string(76, 'a') + "\n" + std::string(76, 'b')};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const std::string encoded = quotedPrintable(text);
        std::string decoded;
        for (std::size_t at = 0; at < encoded.size();) {
            const std::size_t end = encoded.find("\r\n", at);
            ASSERT_NE(end, std::string::npos);
            const std::string line = encoded.substr(at, end - at);
            EXPECT_LE(line.size(), 76u);
            EXPECT_FALSE(line.starts_with(".") || line.starts_with("From ")) << line;
            const bool soft = line.ends_with("=");
            const std::string content = soft ? line.substr(0, line.size() - 1) : line;
            for (std::size_t i = 0; i < content.size(); ++i) {
                if (content[i] == '=' && i + 2 < content.size()) {
                    decoded += static_cast<char>(std::stoi(content.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else {
                    decoded += content[i];
                }
            }
            if (!soft)
                decoded += '\n';
            at = end + 2;
        }
        EXPECT_EQ(decoded, text);
    }
}

TEST(EmlFile, UnwritableFolderIsAnError) {
    TempDir dir;
    const EmlResult result = writeEmlFile(makeMessage({"x", {}, {}, {}, {}, "", "", {}}),
                                          (dir / "missing-folder" / "x.eml").string());
    EXPECT_FALSE(result);
    EXPECT_NE(result.error.find("x.eml"), std::string::npos);
}

TEST(EmlStructure, MessageNestedInItselfIsRefused) {
    auto loop = std::make_shared<mapi::Message>();
    loop->props.setString(tags::kSubject, "loop");
    mapi::Attachment a;
    a.embedded = loop;
    loop->attachments.push_back(a);
    std::string out;
    const EmlResult result = writeEml(*loop, out);
    loop->attachments.clear(); // break the cycle so the test does not leak
    EXPECT_FALSE(result);
}

} // namespace
} // namespace parvelle::mime
