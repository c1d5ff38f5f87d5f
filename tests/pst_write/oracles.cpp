#include "oracles.h"

#include "encoded_words.h"
#include "platform/text.h"
#include "store/pst/checker.h"
#include "store/pst/inspect_sha256.h"
#include "store/pst/reader_messaging.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <variant>

namespace parvelle::pst::test {

namespace fs = std::filesystem;

std::string sha256Hex(const std::vector<std::uint8_t>& bytes) {
    Sha256 h;
    h.update(bytes);
    return h.hexDigest();
}

int runCommand(const std::string& command, std::string* output) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::array<char, 65536> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        if (output)
            output->append(buffer.data(), n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

bool haveCommand(const std::string& name) {
    return runCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// --- our own reader -------------------------------------------------------------------------

SeenItem seenMessage(const PstReader& reader, const PstMessage& m) {
    SeenItem item;
    item.messageClass = stringProp(m.props, 0x001A).value_or("");
    item.subject = stringProp(m.props, 0x0037).value_or("");
    item.body = stringProp(m.props, 0x1000).value_or("");
    for (const PropertyMap& r : m.recipients)
        item.recipientEmails.push_back(stringProp(r, 0x3003).value_or(""));
    for (const PstAttachment& a : m.attachments) {
        SeenAttachment seen;
        seen.name = stringProp(a.props, 0x3707).value_or(stringProp(a.props, 0x3001).value_or(""));
        if (integerProp(a.props, 0x3705).value_or(0) == kAttachEmbeddedMessage) {
            if (auto inner = reader.embeddedMessage(a))
                seen.embeddedSubject = stringProp(inner->props, 0x0037).value_or("");
        } else if (auto bytes = reader.attachmentBytes(a)) {
            seen.sha256 = sha256Hex(*bytes);
            seen.size = bytes->size();
        }
        item.attachments.push_back(std::move(seen));
    }
    return item;
}

bool walkOwn(const PstReader& reader, std::uint32_t nid, const std::string& path, SeenStore& out,
             std::string& error, int depth) {
    auto folder = reader.folder(nid);
    if (!folder) {
        error = folder.error();
        return false;
    }
    auto& items = out.folders[path];
    for (const TableRow& row : folder->contents) {
        auto m = reader.message(row.rowId);
        if (!m) {
            error = m.error();
            return false;
        }
        items.push_back(seenMessage(reader, *m));
    }
    for (std::uint32_t child : folder->subfolders) {
        auto sub = reader.folder(child);
        if (!sub) {
            error = sub.error();
            return false;
        }
        const std::string name = stringProp(sub->props, 0x3001).value_or("");
        if (depth > 200 ||
            !walkOwn(reader, child, path.empty() ? name : path + "/" + name, out, error, depth + 1))
            return false;
    }
    return true;
}

// --- a small JSON reader for the pst-extractor dump ---------------------------------------------

struct Json {
    std::variant<std::nullptr_t, bool, double, std::string, std::vector<Json>,
                 std::map<std::string, Json>>
        v;
    const Json& operator[](const std::string& key) const {
        static const Json none{nullptr};
        auto* obj = std::get_if<std::map<std::string, Json>>(&v);
        if (!obj)
            return none;
        auto it = obj->find(key);
        return it == obj->end() ? none : it->second;
    }
    std::string str() const {
        auto* s = std::get_if<std::string>(&v);
        return s ? *s : std::string();
    }
    double num() const {
        auto* d = std::get_if<double>(&v);
        return d ? *d : 0;
    }
    const std::vector<Json>& arr() const {
        static const std::vector<Json> none;
        auto* a = std::get_if<std::vector<Json>>(&v);
        return a ? *a : none;
    }
};

class JsonParser {
public:
    explicit JsonParser(std::string_view s) : s_(s) {}
    std::optional<Json> parse() {
        auto v = value();
        skip();
        if (!v || i_ != s_.size())
            return std::nullopt;
        return v;
    }

private:
    void skip() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_])))
            ++i_;
    }
    std::optional<Json> value() {
        skip();
        if (i_ >= s_.size())
            return std::nullopt;
        const char c = s_[i_];
        if (c == '{') {
            ++i_;
            std::map<std::string, Json> obj;
            skip();
            if (i_ < s_.size() && s_[i_] == '}') {
                ++i_;
                return Json{obj};
            }
            for (;;) {
                skip();
                auto key = string();
                skip();
                if (!key || i_ >= s_.size() || s_[i_++] != ':')
                    return std::nullopt;
                auto v = value();
                if (!v)
                    return std::nullopt;
                obj[*key] = std::move(*v);
                skip();
                if (i_ < s_.size() && s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (i_ < s_.size() && s_[i_] == '}') {
                    ++i_;
                    return Json{obj};
                }
                return std::nullopt;
            }
        }
        if (c == '[') {
            ++i_;
            std::vector<Json> arr;
            skip();
            if (i_ < s_.size() && s_[i_] == ']') {
                ++i_;
                return Json{arr};
            }
            for (;;) {
                auto v = value();
                if (!v)
                    return std::nullopt;
                arr.push_back(std::move(*v));
                skip();
                if (i_ < s_.size() && s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (i_ < s_.size() && s_[i_] == ']') {
                    ++i_;
                    return Json{arr};
                }
                return std::nullopt;
            }
        }
        if (c == '"') {
            auto s = string();
            return s ? std::optional<Json>(Json{*s}) : std::nullopt;
        }
        if (s_.compare(i_, 4, "true") == 0) {
            i_ += 4;
            return Json{true};
        }
        if (s_.compare(i_, 5, "false") == 0) {
            i_ += 5;
            return Json{false};
        }
        if (s_.compare(i_, 4, "null") == 0) {
            i_ += 4;
            return Json{nullptr};
        }
        std::size_t end = i_;
        while (end < s_.size() &&
               std::string_view("+-0123456789.eE").find(s_[end]) != std::string_view::npos)
            ++end;
        if (end == i_)
            return std::nullopt;
        const double d = std::stod(std::string(s_.substr(i_, end - i_)));
        i_ = end;
        return Json{d};
    }
    std::optional<std::string> string() {
        if (i_ >= s_.size() || s_[i_] != '"')
            return std::nullopt;
        ++i_;
        std::u16string units;
        std::string out;
        auto flush = [&]() {
            out += text::utf16ToUtf8(units);
            units.clear();
        };
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (c != '\\') {
                flush();
                out += c;
                continue;
            }
            if (i_ >= s_.size())
                return std::nullopt;
            c = s_[i_++];
            if (c == 'u') {
                if (i_ + 4 > s_.size())
                    return std::nullopt;
                units.push_back(
                    static_cast<char16_t>(std::stoi(std::string(s_.substr(i_, 4)), nullptr, 16)));
                i_ += 4;
                continue;
            }
            flush();
            switch (c) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            default:
                out += c;
            }
        }
        flush();
        if (i_ >= s_.size())
            return std::nullopt;
        ++i_;
        return out;
    }
    std::string_view s_;
    std::size_t i_ = 0;
};

SeenItem seenFromJson(const Json& j) {
    SeenItem item;
    item.messageClass = j["messageClass"].str();
    item.subject = j["subject"].str();
    item.body = j["body"].str();
    for (const Json& r : j["recipients"].arr())
        item.recipientEmails.push_back(r["email"].str());
    for (const Json& a : j["attachments"].arr()) {
        SeenAttachment seen;
        seen.name =
            a["longFilename"].str().empty() ? a["displayName"].str() : a["longFilename"].str();
        seen.sha256 = a["sha256"].str();
        seen.size = static_cast<std::uint64_t>(a["length"].num());
        if (std::holds_alternative<std::map<std::string, Json>>(a["embedded"].v))
            seen.embeddedSubject = a["embedded"]["subject"].str();
        item.attachments.push_back(std::move(seen));
    }
    return item;
}

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The value after "Key:" and tabs on the line that starts with `key` in a pffexport text file.
std::vector<std::string> fieldValues(const std::string& text, const std::string& key) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) != 0)
            continue;
        std::string v = line.substr(key.size() + 1);
        v.erase(0, v.find_first_not_of(" \t"));
        while (!v.empty() && (v.back() == '\r' || v.back() == ' '))
            v.pop_back();
        out.push_back(v);
    }
    return out;
}

std::string fileSha(const fs::path& p) {
    const std::string s = readFile(p);
    return sha256Hex(std::vector<std::uint8_t>(s.begin(), s.end()));
}

} // namespace

OracleResult readWithOwnReader(const std::string& pst) {
    OracleResult r;
    auto reader = PstReader::open(pst);
    if (!reader) {
        r.error = reader.error();
        return r;
    }
    auto ipm = reader->ipmSubtree();
    if (!ipm) {
        r.error = ipm.error();
        return r;
    }
    SeenStore store;
    if (walkOwn(*reader, *ipm, "", store, r.error, 0))
        r.store = std::move(store);
    return r;
}

OracleResult readWithPstExtractor(const std::string& pst) {
    OracleResult r;
    const std::string dir = PARVELLE_ORACLES_DIR;
    if (!haveCommand("node") || !fs::exists(dir + "/node_modules/pst-extractor")) {
        r.skipped = true;
        return r;
    }
    std::string out;
    if (runCommand("node " + shellQuote(dir + "/pstx_dump.js") + " " + shellQuote(pst) +
                       " 2>/dev/null",
                   &out) != 0) {
        r.error = "pst-extractor failed on " + pst;
        return r;
    }
    auto json = JsonParser(out).parse();
    if (!json) {
        r.error = "pst-extractor printed something that is not JSON";
        return r;
    }
    // Paths start with the top of the visible tree; folders beside it (search roots) are not
    // part of what the tests write.
    const auto& folders = (*json)["folders"].arr();
    std::string top;
    for (const Json& f : folders)
        if (top.empty() && !f["path"].str().empty())
            top = f["path"].str();
    SeenStore store;
    for (const Json& f : folders) {
        const std::string path = f["path"].str();
        if (path.empty() || (path != top && path.rfind(top + "/", 0) != 0))
            continue;
        auto& items = store.folders[path == top ? "" : path.substr(top.size() + 1)];
        for (const Json& item : f["items"].arr())
            items.push_back(seenFromJson(item));
    }
    r.store = std::move(store);
    return r;
}

OracleResult readWithPffexport(const std::string& pst, const std::string& workDir) {
    OracleResult r;
    if (!haveCommand("pffexport")) {
        r.skipped = true;
        return r;
    }
    const std::string target = workDir + "/pff";
    fs::remove_all(target + ".export");
    std::string log;
    if (runCommand("pffexport -q -m items -t " + shellQuote(target) + " " + shellQuote(pst) +
                       " 2>&1",
                   &log) != 0) {
        r.error = "pffexport failed: " + log;
        return r;
    }
    fs::path top;
    for (const auto& e : fs::directory_iterator(target + ".export"))
        if (e.is_directory() && e.path().filename() != "Search Root" &&
            e.path().filename().string().find("Search Folder") == std::string::npos)
            top = e.path();
    if (top.empty()) {
        r.error = "pffexport exported no folders";
        return r;
    }
    SeenStore store;
    store.folders[""];
    auto walk = [&](auto&& self, const fs::path& dir, const std::string& path) -> void {
        std::vector<fs::path> entries;
        for (const auto& e : fs::directory_iterator(dir))
            entries.push_back(e.path());
        std::sort(entries.begin(), entries.end());
        for (const fs::path& p : entries) {
            if (!fs::is_directory(p))
                continue;
            const std::string name = p.filename().string();
            // Item directories are a kind and a five-digit number ("Message00001").
            const bool isItem =
                name.size() > 5 &&
                name.find_first_not_of("0123456789", name.size() - 5) == std::string::npos;
            if (isItem) {
                SeenItem item;
                const std::string headers = readFile(p / "OutlookHeaders.txt");
                auto subjects = fieldValues(headers, "Subject");
                item.subject = subjects.empty() ? "" : subjects.front();
                item.body = readFile(p / "Message.txt");
                for (const std::string& e :
                     fieldValues(readFile(p / "Recipients.txt"), "Email address"))
                    item.recipientEmails.push_back(e);
                if (fs::exists(p / "Attachments")) {
                    std::vector<fs::path> atts;
                    for (const auto& a : fs::directory_iterator(p / "Attachments"))
                        atts.push_back(a.path());
                    std::sort(atts.begin(), atts.end());
                    for (const fs::path& a : atts) {
                        SeenAttachment seen;
                        seen.name = a.filename().string();
                        if (fs::is_directory(a)) {
                            auto inner = fieldValues(readFile(a / "OutlookHeaders.txt"), "Subject");
                            seen.embeddedSubject = inner.empty() ? "" : inner.front();
                        } else {
                            seen.sha256 = fileSha(a);
                            seen.size = fs::file_size(a);
                        }
                        item.attachments.push_back(std::move(seen));
                    }
                }
                store.folders[path].push_back(std::move(item));
            } else {
                const std::string sub = path.empty() ? name : path + "/" + name;
                store.folders[sub];
                self(self, p, sub);
            }
        }
    };
    walk(walk, top, "");
    r.store = std::move(store);
    return r;
}

OracleResult readWithReadpst(const std::string& pst, const std::string& workDir) {
    OracleResult r;
    if (!haveCommand("readpst")) {
        r.skipped = true;
        return r;
    }
    const fs::path target = workDir + "/readpst";
    fs::remove_all(target);
    fs::create_directories(target);
    std::string log;
    // -j 0: readpst's parallel mode forks a process per folder, and each child's fclose() of the
    // inherited stream moves the file offset the parent's lseek()+read() pairs share, so a big
    // folder next to subfolders loses a few items at random (seen with libpst 0.6.76).
    if (runCommand("readpst -j 0 -S -D -q -o " + shellQuote(target.string()) + " " +
                       shellQuote(pst) + " 2>&1",
                   &log) != 0) {
        r.error = "readpst failed: " + log;
        return r;
    }
    fs::path top;
    for (const auto& e : fs::directory_iterator(target))
        if (e.is_directory())
            top = e.path();
    SeenStore store;
    if (top.empty()) {
        r.store = std::move(store);
        return r;
    }
    auto walk = [&](auto&& self, const fs::path& dir, const std::string& path) -> void {
        auto& items = store.folders[path];
        std::map<std::string, std::vector<fs::path>> attachments; // item number -> files
        std::vector<fs::path> messages;
        for (const auto& e : fs::directory_iterator(dir)) {
            const std::string name = e.path().filename().string();
            if (e.is_directory()) {
                self(self, e.path(), path.empty() ? name : path + "/" + name);
            } else if (name.find_first_not_of("0123456789") == std::string::npos) {
                messages.push_back(e.path());
            } else if (const std::size_t dash = name.find('-'); dash != std::string::npos) {
                attachments[name.substr(0, dash)].push_back(e.path());
            }
        }
        for (const fs::path& m : messages) {
            SeenItem item;
            const std::string content = readFile(m);
            if (content.rfind("BEGIN:", 0) == 0)
                continue; // a contact or calendar item, not a mail
            item.messageClass = "IPM.Note";
            const std::size_t headerEnd = content.find("\n\n");
            std::istringstream in(content.substr(0, headerEnd));
            std::string line;
            while (std::getline(in, line))
                if (line.rfind("Subject: ", 0) == 0)
                    item.subject = parvelle::testing::decodeHeader(line.substr(9));
            auto files = attachments[m.filename().string()];
            std::sort(files.begin(), files.end());
            for (const fs::path& a : files) {
                SeenAttachment seen;
                const std::string name = a.filename().string();
                seen.name = name.substr(name.find('-') + 1);
                seen.sha256 = fileSha(a);
                seen.size = fs::file_size(a);
                item.attachments.push_back(std::move(seen));
            }
            items.push_back(std::move(item));
        }
    };
    walk(walk, top, "");
    r.store = std::move(store);
    return r;
}

namespace {

std::string percentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// A path below the top of the folder tree: the first component (the top's own name) dropped.
std::string belowTop(const std::string& path) {
    const std::size_t slash = path.find('/');
    return slash == std::string::npos ? std::string() : path.substr(slash + 1);
}

// The properties of one ItemValues.txt: "Entry type" (property id) and "Value type", then an
// optional hex dump ("0x00000000: 49 00 50 00 ...  I.P.") of the value.
std::map<std::uint32_t, std::vector<std::uint8_t>> parseItemValues(const std::string& text) {
    std::map<std::uint32_t, std::vector<std::uint8_t>> out;
    std::istringstream in(text);
    std::string line;
    std::uint32_t id = 0;
    std::vector<std::uint8_t>* current = nullptr;
    while (std::getline(in, line)) {
        if (line.rfind("Entry type:", 0) == 0) {
            id = static_cast<std::uint32_t>(
                std::stoul(fieldValues(line, "Entry type")[0], nullptr, 16));
            current = nullptr;
        } else if (line.rfind("Value type:", 0) == 0) {
            const auto type = std::stoul(fieldValues(line, "Value type")[0], nullptr, 16);
            current = &out[(id << 16) | static_cast<std::uint32_t>(type)];
        } else if (current && line.rfind("0x", 0) == 0 && line.size() > 12 && line[10] == ':') {
            // Sixteen "xx " columns from offset 12, with one extra space after the eighth.
            for (std::size_t k = 0; k < 16; ++k) {
                const std::size_t at = 12 + 3 * k + (k >= 8 ? 1 : 0);
                if (at + 2 > line.size() || line[at] == ' ')
                    break;
                current->push_back(
                    static_cast<std::uint8_t>(std::stoi(line.substr(at, 2), nullptr, 16)));
            }
        }
    }
    return out;
}

} // namespace

FieldsResult readFieldsWithPstExtractor(const std::string& pst) {
    FieldsResult r;
    const std::string modules = std::string(PARVELLE_ORACLES_DIR) + "/node_modules";
    if (!haveCommand("node") || !fs::exists(modules + "/pst-extractor")) {
        r.skipped = true;
        return r;
    }
    std::string out;
    const std::string script = std::string(PARVELLE_SOURCE_DIR) + "/tests/pst_write/pstx_fields.js";
    if (runCommand("NODE_PATH=" + shellQuote(modules) + " node " + shellQuote(script) + " " +
                       shellQuote(pst) + " 2>/dev/null",
                   &out) != 0) {
        r.error = "pst-extractor failed on " + pst;
        return r;
    }
    SeenFields fields;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::size_t at = 0;
        for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
            cells.push_back(line.substr(at, tab - at));
        cells.push_back(line.substr(at));
        if (cells.size() == 4)
            fields[belowTop(percentDecode(cells[0]))][percentDecode(cells[1])][cells[2]] =
                percentDecode(cells[3]);
    }
    r.fields = std::move(fields);
    return r;
}

ValuesResult readItemValuesWithPffexport(const std::string& pst, const std::string& workDir) {
    ValuesResult r;
    if (!haveCommand("pffexport")) {
        r.skipped = true;
        return r;
    }
    const std::string target = workDir + "/pffvalues";
    fs::remove_all(target + ".export");
    std::string log;
    if (runCommand("pffexport -q -d -m items -t " + shellQuote(target) + " " + shellQuote(pst) +
                       " 2>&1",
                   &log) != 0) {
        r.error = "pffexport failed: " + log;
        return r;
    }
    SeenValues values;
    for (const auto& e : fs::recursive_directory_iterator(target + ".export")) {
        if (e.path().filename() != "ItemValues.txt")
            continue;
        // <target>.export/<top>/<folders...>/<Item00001>/ItemValues.txt
        const std::string relative =
            fs::relative(e.path().parent_path().parent_path(), target + ".export").string();
        auto props = parseItemValues(readFile(e.path()));
        const auto subject = props.find(0x0037001F);
        if (subject == props.end())
            continue;
        const std::string text(subject->second.begin(), subject->second.end());
        values[belowTop(relative)][text::utf16leToUtf8(text)] = std::move(props);
    }
    r.values = std::move(values);
    return r;
}

std::string checkerViolations(const std::string& pst) {
    auto db = NodeDatabase::open(pst);
    if (!db)
        return db.error();
    const CheckReport report = checkStore(*db);
    return report.clean() ? std::string() : reportToText(pst, report);
}

} // namespace parvelle::pst::test
