#include "export_plan.h"

#include "list_text.h"
#include "export_names.h"
#include "staged_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <map>

#include <sys/stat.h>

namespace kestro::exports {

namespace fs = std::filesystem;

std::vector<std::string> PlannedFiles(ExportKind kind, const std::string& strPath, std::int64_t nFrames,
                                      std::uint32_t nBlockSize)
{
    const OutputNames names(kind, strPath, nBlockSize);
    std::vector<std::string> files;
    for (std::int64_t n = 0; n < names.Count(nFrames); ++n)
        files.push_back(names.Name(static_cast<std::int32_t>(n)));
    return files;
}

ExportPlan PlanExport(const CVideoSource& source, ExportKind kind, const std::string& strPath, std::uint32_t nBlockSize,
                      const FramePredicate& pfnTake)
{
    ExportPlan plan;
    for (std::int32_t i = source.FindDataFrame(0); i >= 0; i = source.FindDataFrame(i + 1))
        if (!pfnTake || pfnTake(i))
            plan.frames.push_back(i);
    plan.names = OutputNames(kind, strPath, nBlockSize);
    plan.files = PlannedFiles(kind, strPath, static_cast<std::int64_t>(plan.frames.size()), nBlockSize);
    return plan;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::optional<std::string> FileThatIsAnInput(const std::vector<std::string>& files,
                                             const std::vector<std::string>& inputs)
{
    // One stat per input, then one per output: a series of thousands of files against a night's
    // captures stays cheap.
    std::vector<std::pair<dev_t, ino_t>> ids;
    for (const std::string& input : inputs)
        if (struct stat st{}; ::stat(input.c_str(), &st) == 0)
            ids.emplace_back(st.st_dev, st.st_ino);
    for (const std::string& file : files)
        if (struct stat st{}; ::stat(file.c_str(), &st) == 0 &&
                              std::find(ids.begin(), ids.end(), std::pair(st.st_dev, st.st_ino)) != ids.end())
            return file;
    return std::nullopt;
}

std::vector<std::string> ExistingFiles(const std::vector<std::string>& files)
{
    std::vector<std::string> existing;
    for (const std::string& file : files)
        if (struct stat st{}; ::lstat(file.c_str(), &st) == 0)
            existing.push_back(file);
    return existing;
}

std::vector<std::string> EarlierSeriesFiles(ExportKind kind, const std::string& strPath, std::int64_t nFiles)
{
    if (kind != ExportKind::Bmp && kind != ExportKind::Fits)
        return {};
    // The series' names are base + "_" + number + extension (+ ".fit"); a name counts when it is
    // exactly the name the export would give its number, so "x_01.bmp" or "x_0005b.bmp" do not.
    const OutputNames names(kind, strPath, 1);
    const SplitPath parts = SplitExtension(strPath);
    const std::string fit = kind == ExportKind::Fits ? kFitsExtension : "";
    const fs::path base(parts.base);
    const SplitPath nameParts{base.filename().string(), parts.extension};
    const std::string folderPrefix = parts.base.substr(0, parts.base.size() - nameParts.base.size());
    const std::string stem = nameParts.base + "_";
    const std::string suffix = parts.extension + fit;
    std::map<std::int64_t, std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folderPrefix.empty() ? fs::path(".") : fs::path(folderPrefix), ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= stem.size() + suffix.size() || !name.starts_with(stem) || !name.ends_with(suffix))
            continue;
        const std::string digits = name.substr(stem.size(), name.size() - stem.size() - suffix.size());
        if (digits.size() > 9 ||
            !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
            continue;
        const std::int64_t n = std::stoll(digits);
        if (n >= nFiles && names.Name(static_cast<std::int32_t>(n)) == folderPrefix + name)
            found.emplace(n, folderPrefix + name);
    }
    std::vector<std::string> files;
    for (auto& [n, path] : found)
        files.push_back(std::move(path));
    return files;
}

std::vector<std::string> LeftoverTemporaries(const std::string& strFolder)
{
    std::vector<std::string> files;
    std::error_code ec;
    const fs::path folder = strFolder.empty() ? fs::path(".") : fs::path(strFolder);
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (kestro::fileio::isTemporaryName(it->path().filename().string()))
            files.push_back(it->path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string DescribeFiles(const std::vector<std::string>& files)
{
    auto name = [](const std::string& path) { return fs::path(path).filename().string(); };
    if (files.empty())
        return "no file";
    if (files.size() > 2)
        return FirstToLast(name(files.front()), name(files.back())) + ", " + std::to_string(files.size()) + " files";
    std::vector<std::string> names;
    std::transform(files.begin(), files.end(), std::back_inserter(names), name);
    return ListFirst(names, names.size(), SentenceWording());
}

} // namespace kestro::exports
