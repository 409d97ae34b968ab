// What the window says around an export: what was written afterwards. Files are named without
// their folder.
#pragma once

#include "export_plan.h"
#include "export_report.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kestro::shell {

// Files for a sentence: "a.bmp", "a.bmp and b.bmp", "a_b.avi, a_g.avi and a_r.avi", or for more
// than three "12 files named x_0000.bmp … x_0011.bmp" (the first and the last).
std::string NameFiles(const std::vector<std::string>& files);

// The status bar's line after an export that wrote something ("18 frames saved to x.avi"), with
// the frames left out; empty when no file was written.
std::string ExportSummary(kestro::exports::ExportKind kind, const ExportReport& report);

} // namespace kestro::shell
