#pragma once
// Sorting of the item list by a column header click. One direction flag serves every column:
// each click sorts the clicked column in the direction the flag says and flips the flag.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mailbox/records.h"

namespace parvelle::ui {

enum ItemColumn : int {
    kColumnAttachment = 0,
    kColumnFrom = 1,
    kColumnTo = 2,
    kColumnSubject = 3,
    kColumnDate = 4,
};

// A date text of the item list (the user's short date, optionally a time) as seconds since the
// epoch; nothing when it does not parse.
std::optional<long long> parseListDate(std::string_view text);

// Ascending comparison of two rows by a column: positive when a sorts after b. The date column
// only answers "later" (1) or "not later" (0), so rows whose date does not parse stay where they
// are relative to one another.
int compareItems(int column, const mailbox::RecoveredOlmHeaderData& a,
                 const mailbox::RecoveredOlmHeaderData& b);

class ItemListSorter {
public:
    // The order of `rows` after a click on `column`: indexes into rows. Flips the direction.
    // Sorting by date orders the rows whose date parses; the others keep their places.
    std::vector<std::size_t> sort(int column,
                                  const std::vector<const mailbox::RecoveredOlmHeaderData*>& rows);
    // Whether the next click sorts ascending.
    bool nextAscending() const { return descendingNext_ == 0; }

private:
    int descendingNext_ = 0;
};

} // namespace parvelle::ui
