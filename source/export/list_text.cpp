#include "list_text.h"

#include <algorithm>

namespace kestro::exports {

ListWording SentenceWording()
{
    ListWording wording;
    wording.lastSeparator = " and ";
    return wording;
}

std::string MoreText(std::size_t more, const ListWording& wording)
{
    return more == 0 ? std::string() : wording.moreBefore + std::to_string(more) + wording.moreAfter;
}

std::string ListFirst(const std::vector<std::string>& items, std::size_t named, std::size_t total,
                      const ListWording& wording)
{
    total = std::max(total, items.size());
    const std::size_t shown = std::min(named, items.size());
    const bool whole = shown == total;
    std::string text;
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0)
            text += whole && i + 1 == shown ? wording.lastSeparator : wording.separator;
        text += items[i];
    }
    return text + MoreText(total - shown, wording);
}

std::string ListFirst(const std::vector<std::string>& items, std::size_t named, const ListWording& wording)
{
    return ListFirst(items, named, items.size(), wording);
}

std::string FirstToLast(const std::string& first, const std::string& last) { return first + " \u2026 " + last; }

} // namespace kestro::exports
