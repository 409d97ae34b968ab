// What an export did: the frames and files it wrote, the frames it had to leave out, and why it
// stopped if it did. The engines fill it as they go; whoever runs the export tells the user once,
// at the end, from it (DescribeExport), instead of a box per frame from inside the loop.
#pragma once

#include "export_messages.h"
#include "message_box.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ExportReport {
    // How many of the listed frame numbers a message names before "and N more".
    static constexpr std::size_t kListedLeftOut = 8;

    // The capture's file name, for messages that speak of its frames.
    std::string strCapture;
    // Frames in each output AVI file kept, or BMP files written; 0 when the AVI files were not
    // put in place.
    std::int32_t nFramesWritten = 0;
    // The output files completed, in the order they were finished.
    std::vector<std::string> files;
    // Frames that were to be exported but gave no picture, the first few of them by number, and
    // what the video source said about the first.
    std::int32_t nFramesLeftOut = 0;
    std::vector<std::int32_t> leftOut;
    std::string strLeftOutReason;
    // Why the export stopped before its end, or wrote nothing; empty when it ran through.
    std::optional<kestro::ui::Message> failure;
    // The export was asked to stop before source frame nStoppedBefore (the failure says so).
    bool bStopped = false;
    std::int32_t nStoppedBefore = -1;

    bool Complete() const { return !failure && nFramesLeftOut == 0; }

    void LeaveOut(std::int32_t nFrame, const std::string& strReason);
    // Records the first failure only: what follows from it says nothing new.
    void Fail(const kestro::exports::messages::ExportMessage& m, const std::string& strText);
    // Records that the export stopped as asked, before source frame nFrame.
    void Stop(std::int32_t nFrame);
};

// The one message that tells the user what went wrong, or nothing when every frame was written.
std::optional<kestro::ui::Message> DescribeExport(const ExportReport& report);

// An engine's ending: when nobody asked for its report the message, if any, is shown here.
// Returns whether every frame was written.
bool FinishExport(const ExportReport& report, bool bTellUser);

namespace kestro::exports {

// A system error number in words a user can act on ("the disk is full").
std::string DescribeSystemError(int nError);

// n and its noun, singular for 1: "0 frames", "1 frame", "2 frames".
std::string Count(std::int64_t n, const char* singular, const char* plural);
// What became of the files an export finished before it stopped: "no file was written before
// it", "the one file written before it is kept", "the 3 files written before it are kept".
// `done` says how they were made ("written", "saved").
std::string KeptFiles(std::int64_t n, const char* done);

// A printf format filled in.
template <class... Values> std::string Format(const char* format, Values... values);

} // namespace kestro::exports

#include <cstdio>

template <class... Values> std::string kestro::exports::Format(const char* format, Values... values)
{
    const int n = std::snprintf(nullptr, 0, format, values...);
    if (n <= 0)
        return {};
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, values...);
    text.resize(static_cast<std::size_t>(n));
    return text;
}
