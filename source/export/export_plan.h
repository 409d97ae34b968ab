// What an export will write, worked out before it writes anything: the frames it takes and every
// file it makes. The engines check their plan before their first write, and whoever asks the user
// first (the window's replace question, the command line's checks and --dry-run) works from the
// very same plan, so that what is asked about is what is written.
#pragma once

#include "export_names.h"
#include "video_source.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestro::exports {

struct ExportPlan {
    // The frames taken that hold data, ascending: those the export writes unless they cannot be
    // read.
    std::vector<std::int32_t> frames;
    // Every file the export writes, in the order it writes them, and what names them.
    std::vector<std::string> files;
    OutputNames names;
};

// The files an export of nFrames frames writes for the path chosen, as OutputNames names them.
std::vector<std::string> PlannedFiles(ExportKind kind, const std::string& strPath, std::int64_t nFrames,
                                      std::uint32_t nBlockSize);

// The frames of the open capture that pfnTake accepts (all without one) and that hold data, and
// the files they make.
ExportPlan PlanExport(const CVideoSource& source, ExportKind kind, const std::string& strPath, std::uint32_t nBlockSize,
                      const FramePredicate& pfnTake);

// Whether two paths name one file: the same device and inode, whatever links or other names lead
// there. False when either does not exist.
bool SameFile(const std::string& a, const std::string& b);

// The first of the files that is one of the inputs, compared by identity, not by name.
std::optional<std::string> FileThatIsAnInput(const std::vector<std::string>& files,
                                             const std::vector<std::string>& inputs);

// The files of the list that exist (a link counts, wherever it leads).
std::vector<std::string> ExistingFiles(const std::vector<std::string>& files);

// Files of an earlier, longer numbered series that an export of nFiles files to the same name
// leaves beside its own: same name and extension, numbered nFiles and up, ascending. A stacking
// program given the folder would read them with the new ones. Empty for AVI and RGB exports.
std::vector<std::string> EarlierSeriesFiles(ExportKind kind, const std::string& strPath, std::int64_t nFiles);

// The temporary files an export leaves while it writes (".NAME.XXXXXXXX.part" beside NAME, as
// kestro::fileio::StagedFile names them) that stand in the folder: left over from an export that
// was killed, since a finished or failed one removes its own.
std::vector<std::string> LeftoverTemporaries(const std::string& strFolder);

// A list of files for a message: "a.bmp", "a.bmp and b.bmp", or the first and last with their
// number ("x_0005.bmp … x_0019.bmp, 15 files"), named without their folder.
std::string DescribeFiles(const std::vector<std::string>& files);

} // namespace kestro::exports
