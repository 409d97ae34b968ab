// Lists for messages: the first few items named, the rest counted ("frames 3, 9, 14 and 2 more"),
// a list named whole as a sentence reads ("a, b and c"), and a long series by its ends ("a … z").
// Every message that names items from a list, in the window and on the command line, words it
// here, so that a list is cut the same way wherever it is shown.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestro::exports {

struct ListWording {
    std::string separator = ", ";
    // Before the last item of a list named whole; a list cut short ends with the count instead.
    std::string lastSeparator = ", ";
    // Around the number of the items not named: " and " 3 " more".
    std::string moreBefore = " and ";
    std::string moreAfter = " more";
};

// The wording of a list read as a sentence: "a", "a and b", "a, b and c".
ListWording SentenceWording();

// How many more there are in the wording's words (" and 3 more"), or nothing for none.
std::string MoreText(std::size_t more, const ListWording& wording = {});

// The first `named` of `items`, then how many of `total` items are not named. `items` may hold
// only the first of them; `total` is never taken as less than items.size().
std::string ListFirst(const std::vector<std::string>& items, std::size_t named, std::size_t total,
                      const ListWording& wording = {});
// As above, of every item in `items`.
std::string ListFirst(const std::vector<std::string>& items, std::size_t named, const ListWording& wording = {});

// A series by its first and last items: "a … z".
std::string FirstToLast(const std::string& first, const std::string& last);

} // namespace kestro::exports
