#include "store/mime/html_writer.h"

#include "platform/text.h"

namespace parvelle::mime {

namespace {

// Position of the first "<name" tag (ASCII case ignored) at or after `from` whose name ends
// there, or npos.
std::size_t findTag(const std::string& lower, std::string_view name, std::size_t from = 0) {
    const std::string open = "<" + std::string(name);
    for (std::size_t at = lower.find(open, from); at != std::string::npos;
         at = lower.find(open, at + 1)) {
        const std::size_t next = at + open.size();
        if (next >= lower.size())
            return std::string::npos;
        const char c = lower[next];
        if (c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f')
            return at;
    }
    return std::string::npos;
}

// Position just after the '>' that closes the tag starting at `at`; quoted attribute values
// may hold '>'. npos when the tag never closes.
std::size_t tagEnd(const std::string& html, std::size_t at) {
    char quote = 0;
    for (std::size_t i = at + 1; i < html.size(); ++i) {
        const char c = html[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return std::string::npos;
}

struct HtmlParts {
    std::string styles;  // the <style> elements of the head
    std::string content; // what the <body> element holds
};

HtmlParts splitHtml(const std::string& html) {
    const std::string lower = text::asciiLower(html);
    HtmlParts parts;
    std::size_t contentBegin = 0;
    std::size_t contentEnd = html.size();
    const std::size_t body = findTag(lower, "body");
    if (body != std::string::npos) {
        const std::size_t end = tagEnd(html, body);
        contentBegin = end == std::string::npos ? html.size() : end;
        const std::size_t close = lower.rfind("</body");
        if (close != std::string::npos && close >= contentBegin)
            contentEnd = close;
    } else if (const std::size_t headClose = lower.find("</head"); headClose != std::string::npos) {
        const std::size_t end = tagEnd(html, headClose);
        contentBegin = end == std::string::npos ? html.size() : end;
    }
    const std::size_t headEnd = body != std::string::npos ? body : contentBegin;
    for (std::size_t at = findTag(lower, "style"); at != std::string::npos && at < headEnd;
         at = findTag(lower, "style", at + 1)) {
        const std::size_t close = lower.find("</style", at);
        if (close == std::string::npos)
            break;
        const std::size_t end = tagEnd(html, close);
        if (end == std::string::npos)
            break;
        parts.styles += html.substr(at, end - at) + "\n";
        at = end - 1;
    }
    parts.content = html.substr(contentBegin, contentEnd - contentBegin);
    return parts;
}

} // namespace

std::string htmlDocument(const MessageDocument& document) {
    std::string subject;
    for (const HeaderLine& line : document.headers)
        if (line.label == "Subject")
            subject = line.value;
    const HtmlParts parts = document.htmlBody.empty() ? HtmlParts{} : splitHtml(document.htmlBody);
    std::string out = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" +
                      text::escapeHtml(subject) + "</title>\n" + parts.styles +
                      "</head>\n<body>\n" + "<table class=\"message-headers\">\n";
    for (const HeaderLine& line : document.headers)
        out += "<tr><th style=\"text-align: left; vertical-align: top; padding-right: 1em\">" +
               text::escapeHtml(line.label) + ":</th><td>" + text::escapeHtml(line.value) +
               "</td></tr>\n";
    out += "</table>\n<hr>\n";
    if (!document.htmlBody.empty()) {
        out += "<div class=\"message-body\">\n" + parts.content + "\n</div>\n";
    } else {
        out += "<div class=\"message-body\" style=\"white-space: pre-wrap\">" +
               text::escapeHtml(document.plainBody) + "</div>\n";
    }
    out += "</body>\n</html>\n";
    return out;
}

std::string writeHtmlFile(const mapi::Message& message, const platform::FileTarget& target) {
    return writeDocumentFile(target, htmlDocument(makeMessageDocument(message)));
}

} // namespace parvelle::mime
