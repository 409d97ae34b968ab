// What the window says around an export: the question before it replaces files, the note about
// temporary files an export left, what was written afterwards, and old files it could not
// remove. Files are named without their folder, which the texts name once where it matters.
#pragma once

#include "export_plan.h"
#include "export_report.h"
#include "message_box.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestro::shell {

// Files for a sentence: "a.bmp", "a.bmp and b.bmp", "a_b.avi, a_g.avi and a_r.avi", or for more
// than three "12 files named x_0000.bmp … x_0011.bmp" (the first and the last).
std::string NameFiles(const std::vector<std::string>& files);

// The one question before an export writes: about the files of its names that exist, and about
// the files an earlier, longer series left that it would leave beside its own (stale). Nothing
// to ask when both are empty. With files that exist alone it is a Yes (replace) or No question;
// with stale files it offers, as Yes, No and Cancel, to replace and remove them, to replace and
// keep them, or to write nothing. nWritten is the number of files the export writes.
std::optional<kestro::ui::Message> ReplaceQuestion(const std::vector<std::string>& existing,
                                                   const std::vector<std::string>& stale, std::size_t nWritten);

// Temporary files of an export that was stopped before it finished, found in the folder that
// an export is about to write into.
kestro::ui::Message LeftoverNote(const std::string& strFolder, const std::vector<std::string>& files);

// The status bar's line after an export that wrote something ("18 frames saved to x.avi"), with
// the frames left out and the old files removed; empty when no file was written.
std::string ExportSummary(kestro::exports::ExportKind kind, const ExportReport& report, std::size_t nRemoved);

// The old files that could not be removed, each with the reason in words.
std::string RemovalFailures(const std::vector<std::pair<std::string, std::string>>& failures);

} // namespace kestro::shell
