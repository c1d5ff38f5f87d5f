#include "ui/item_sort.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace parvelle::ui {
namespace {

int compareFolded(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
        const int ca = fold(static_cast<unsigned char>(a[i]));
        const int cb = fold(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

std::optional<long long> parseListDate(std::string_view text) {
    const std::string s(text);
    for (const char* format : {"%x %X", "%x"}) {
        std::tm tm{};
        const char* end = strptime(s.c_str(), format, &tm);
        if (end == nullptr)
            continue;
        while (*end == ' ')
            ++end;
        if (*end != '\0')
            continue;
        tm.tm_isdst = -1;
        return static_cast<long long>(std::mktime(&tm));
    }
    return std::nullopt;
}

int compareItems(int column, const mailbox::RecoveredOlmHeaderData& a,
                 const mailbox::RecoveredOlmHeaderData& b) {
    switch (column) {
    case kColumnAttachment:
        return a.hasAttachments - b.hasAttachments;
    case kColumnFrom:
        return compareFolded(a.from, b.from);
    case kColumnTo:
        return compareFolded(a.to, b.to);
    case kColumnSubject:
        return compareFolded(a.subject, b.subject);
    case kColumnDate: {
        const auto da = parseListDate(a.date);
        const auto db = parseListDate(b.date);
        return da && db && *da > *db ? 1 : 0;
    }
    default:
        return 0;
    }
}

std::vector<std::size_t>
ItemListSorter::sort(int column, const std::vector<const mailbox::RecoveredOlmHeaderData*>& rows) {
    const bool ascending = descendingNext_ == 0;
    descendingNext_ = ascending ? 1 : 0;

    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    if (column == kColumnDate) {
        // Only rows with a readable date are ordered, among the places they hold; rows whose
        // date does not parse stay where they are.
        std::vector<std::size_t> dated;
        std::vector<long long> dates(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (const auto d = parseListDate(rows[i]->date)) {
                dates[i] = *d;
                dated.push_back(i);
            }
        }
        std::vector<std::size_t> sorted = dated;
        std::stable_sort(sorted.begin(), sorted.end(), [&](std::size_t x, std::size_t y) {
            return ascending ? dates[x] < dates[y] : dates[x] > dates[y];
        });
        for (std::size_t k = 0; k < dated.size(); ++k)
            order[dated[k]] = sorted[k];
        return order;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        const int c = compareItems(column, *rows[x], *rows[y]);
        return ascending ? c < 0 : c > 0;
    });
    return order;
}

} // namespace parvelle::ui
