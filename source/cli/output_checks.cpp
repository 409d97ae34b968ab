#include "output_checks.h"

#include "export_plan.h"
#include "list_text.h"
#include "path_checks.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>

namespace kestro::cli {

namespace {

namespace fs = std::filesystem;

// Of a capture's many files of one kind (a BMP series), this many are named before "and N more".
constexpr std::size_t kNamedPerCause = 3;

// The extension of a name that is almost surely meant as one video file: ".avi" or ".ser", in
// lower case; empty for any other name.
std::string singleFileExtension(const std::string& path)
{
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".avi" || extension == ".ser" ? extension : std::string();
}

const char* targetName(Target target)
{
    switch (target) {
    case Target::Avi: return "avi";
    case Target::Bmp: return "bmp";
    case Target::Rgb: return "rgb";
    case Target::Fits: return "fits";
    case Target::Ser: return "ser";
    }
    return "";
}

// Lines of one cause for one capture: the first few named, the rest counted.
class CauseLines {
public:
    explicit CauseLines(std::string tail) : m_tail(std::move(tail)) {}
    void add(const std::string& file)
    {
        if (m_lines.size() < kNamedPerCause)
            m_lines.push_back(file + m_tail + "\n");
        ++m_count;
    }
    void appendTo(std::string& text, const std::string& capture) const
    {
        kestro::exports::ListWording wording;
        wording.separator = wording.lastSeparator = "";
        wording.moreBefore = "and ";
        wording.moreAfter = " more of the outputs of " + capture + " alike\n";
        text += kestro::exports::ListFirst(m_lines, kNamedPerCause, m_count, wording);
    }

private:
    std::string m_tail;
    std::vector<std::string> m_lines;
    std::size_t m_count = 0;
};

} // namespace

std::string outputProblem(const ConvertOptions& o, std::size_t captures)
{
    if (!o.output)
        return {};
    const std::string& out = *o.output;
    // A name written with a / at its end is a folder whatever the run; one capture to one AVI or
    // SER file may name the file itself; everything else writes into a folder.
    const bool slash = out.ends_with('/');
    const bool folderMeant = slash || captures > 1 || !kestro::exports::WritesOneFile(o.target);
    const std::string extension = singleFileExtension(out);
    const std::string kind = extension == ".ser" ? "SER" : "AVI";
    const std::string why = captures > 1 ? "with " + std::to_string(captures) + " captures"
                            : slash      ? "written with a / at its end"
                                         : std::string("with --to ") + targetName(o.target);
    const PathInfo info = lookAt(out);
    switch (info.kind) {
    case PathKind::Unreachable: return "--output " + out + ": " + info.what;
    case PathKind::Special:
        return "--output " + out + " is " + info.what + "; it takes " +
               (folderMeant ? "a folder name" : "the name of a file or a folder");
    case PathKind::File:
        if (folderMeant)
            return "--output " + out + " is a file, but " + why + " it names the folder the outputs go in";
        return {};
    case PathKind::Folder:
        if (!folderMeant && !extension.empty())
            return "--output " + out + " is a folder, but a name ending in " + extension + " names the " + kind +
                   " file to write; write " + out + "/ to put the " + kind + " in that folder";
        break;
    case PathKind::Missing:
        // A link that leads nowhere cannot be made a folder.
        if (folderMeant && lookAtName(out).kind == PathKind::File)
            return "--output " + out + ": " + info.what;
        break;
    }
    if (folderMeant && !slash && !extension.empty())
        return "--output " + out + ": " + why + " --output names the folder the outputs go in, and a name ending in " +
               extension + " is almost surely meant as one file; give a folder name (" + out +
               "/ if that is what is meant)";
    return {};
}

OutputConflicts outputConflicts(const std::vector<CapturePlan>& plans)
{
    OutputConflicts found;
    std::vector<std::string> captures;
    for (const CapturePlan& plan : plans)
        captures.push_back(plan.capture);
    // The files do not exist yet, so two captures writing one are told by the path each would take.
    std::map<std::string, std::string> writers;
    for (const CapturePlan& plan : plans) {
        for (const std::string& file : plan.files) {
            const auto [it, fresh] = writers.try_emplace(pathKey(file), plan.capture);
            if (!fresh)
                found.clashes +=
                    it->second + " and " + plan.capture + " would both write " + file + "; give them other folders\n";
        }
        // A capture of the run under any of its names, a link or another hard link among them.
        if (const std::optional<std::string> file = kestro::exports::FileThatIsAnInput(plan.files, captures)) {
            const auto capture = std::find_if(captures.begin(), captures.end(), [&](const std::string& c) {
                return kestro::exports::SameFile(*file, c);
            });
            found.overCaptures += "the export of " + plan.capture + " would write " + *file +
                                  ", which is the capture " + (capture != captures.end() ? *capture : *file) +
                                  "; an export never writes over a capture, so give another --output\n";
        }
    }
    return found;
}

std::string outputNameProblem(const CapturePlan& plan)
{
    for (const std::string& file : plan.files) {
        const std::string name = nameTooLong(file);
        if (!name.empty())
            return "its output " + file + " would have a name of " + std::to_string(name.size()) +
                   " bytes, more than the file system takes";
    }
    return {};
}

std::string outputsInTheWay(const std::vector<CapturePlan>& plans, bool overwrite)
{
    std::string text;
    for (const CapturePlan& plan : plans) {
        if (!plan.opened || !plan.failure.empty())
            continue;
        CauseLines folders(" is a folder, which an export does not replace");
        CauseLines existing(" exists; --overwrite replaces it");
        std::map<std::string, CauseLines> others; // special files and names that cannot be looked up, by why
        for (const std::string& file : plan.files) {
            const PathInfo info = lookAtName(file);
            switch (info.kind) {
            case PathKind::Missing: break;
            case PathKind::File:
                if (!overwrite)
                    existing.add(file);
                break;
            case PathKind::Folder: folders.add(file); break;
            case PathKind::Special:
                others.try_emplace(info.what, " is " + info.what + ", which an export does not replace")
                    .first->second.add(file);
                break;
            case PathKind::Unreachable:
                others.try_emplace(info.what, " cannot be written: " + info.what).first->second.add(file);
                break;
            }
        }
        folders.appendTo(text, plan.capture);
        for (const auto& [why, lines] : others)
            lines.appendTo(text, plan.capture);
        existing.appendTo(text, plan.capture);
    }
    return text;
}

} // namespace kestro::cli
