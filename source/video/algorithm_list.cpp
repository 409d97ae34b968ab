#include "algorithm_list.h"

#include "cfa_converter.h"

#include <boost/lexical_cast.hpp>

#include <algorithm>

namespace kestro::video {

std::optional<std::int32_t> AlgorithmNumberOf(std::string_view entry)
{
    std::int32_t number = 0;
    if (!boost::conversion::try_lexical_convert(entry.data(), std::min<std::size_t>(entry.size(), 2), number))
        return std::nullopt;
    return number;
}

std::vector<std::string> AlgorithmEntries(const std::vector<std::string>& libraryNames)
{
    std::vector<std::string> entries;
    entries.reserve(libraryNames.size() + 1);
    for (const std::string& name : libraryNames)
        if (!name.empty())
            entries.push_back(name);
    entries.emplace_back(CCfaConverter::kOwnAlgorithmName);
    return entries;
}

} // namespace kestro::video
