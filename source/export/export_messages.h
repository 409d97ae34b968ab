// What the exports tell the user, in one table. Captions name the operation that failed or the
// condition met; texts say what happened, to which file and why, and what was left on disk.
// Each text is a printf format; the comment above it names its values in order.
#pragma once

#include "message_box.h"

namespace kestro::exports::messages {

struct ExportMessage {
    const char* text;
    const char* caption;
    kestro::ui::Icon icon = kestro::ui::Icon::Warning;
};

inline constexpr ExportMessage kNoVideo{"No AVI file open", "Open AVI file first"};
// Capture file name.
inline constexpr ExportMessage kNothingToExport{"No frame of %s holds a picture, so there is nothing to export.",
                                                "Nothing to export"};
// Capture file name.
inline constexpr ExportMessage kNothingTaken{
    "None of the frames chosen from %s holds a picture: no frame is ticked, or only frames the camera dropped "
    "are.\nNothing was written.",
    "Nothing to export"};
// Number of frames taken, capture file name.
inline constexpr ExportMessage kNothingWritten{
    "None of the %d frames taken from %s could be read.\nNothing was written.", "Nothing to export"};
// Output file, capture file name.
inline constexpr ExportMessage kOutputIsInput{
    "%s is the capture %s itself: an export never writes over what it reads.\nChoose another name. Nothing was "
    "written.",
    "Output is the capture"};
// Output file, what it is ("a folder", "a named pipe", ...).
inline constexpr ExportMessage kOutputNotAFile{
    "%s is %s, not a file, so the export cannot write it.\nNothing was written.", "Output is not a file"};
// Capture file name, display mode, reason.
inline constexpr ExportMessage kRawRefused{"%s cannot be exported in %s: %s.\nNothing was written.", "RAW display"};
inline constexpr ExportMessage kNot24Bit{"Unable to split video into R, G, B channels", "Input is not 24 bit frame",
                                         kestro::ui::Icon::None};

// AVI files. Output file, reason.
inline constexpr ExportMessage kAviCreate{"Unable to create %s: %s.\nNothing was written.", "AVIFileOpen"};
// Output file.
inline constexpr ExportMessage kAviStream{"Unable to set up the video stream of %s.\nNothing was written.",
                                          "AVIFileCreateStream"};
// Source frame, output file, reason.
inline constexpr ExportMessage kAviWrite{
    "Unable to write frame %d to %s: %s.\nThe export stopped; the unfinished file was removed and an earlier "
    "file of that name is unchanged.",
    "AVIStreamWrite"};
// Output file, reason.
inline constexpr ExportMessage kAviComplete{
    "Unable to complete %s: %s.\nThe export stopped; the unfinished file was removed and an earlier file of that "
    "name is unchanged.",
    "AVIFileCommit"};
inline constexpr ExportMessage kAviReplace{
    "Unable to put the finished export in place as %s: %s.\nThe export stopped; an earlier file of that name is "
    "unchanged.",
    "rename"};

// SER files. Output file, reason.
inline constexpr ExportMessage kSerCreate{"Unable to create %s: %s.\nNothing was written.", "SerWriter::open"};
// Source frame, output file, reason.
inline constexpr ExportMessage kSerWrite{
    "Unable to write frame %d to %s: %s.\nThe export stopped; the unfinished file was removed and an earlier "
    "file of that name is unchanged.",
    "SerWriter::writeFrame"};
// Output file, reason.
inline constexpr ExportMessage kSerComplete{
    "Unable to complete %s: %s.\nThe export stopped; the unfinished file was removed and an earlier file of that "
    "name is unchanged.",
    "SerWriter::complete"};
// Capture file name, display mode, bits per pixel of its pictures.
inline constexpr ExportMessage kSerPicture{
    "%s cannot be written as a SER file in %s: its pictures have %d bits per pixel, and the SER file takes grey "
    "or colour pictures.\nNothing was written.",
    "SaveFramesAsSer"};

// BMP files. Output file, source frame, reason, what became of the files written before it
// (KeptFiles).
inline constexpr ExportMessage kBmpWrite{"Unable to write %s (frame %d): %s.\nThe export stopped there; %s.",
                                         "WriteBmpFile"};

// The RAW mode was given up while exporting. Source frame, what the video source said.
inline constexpr ExportMessage kModeLost{"The display mode could not be kept at frame %d: %s\nThe export stopped.",
                                         "GetFrameBitmap"};
// Why a frame was left out when its picture did not match the first.
inline constexpr const char* kOtherFormat = "its picture has another size or depth than the first frame's";

// FITS files. Block size; for one too large also the bits of the values summed and the largest
// block whose sums cannot wrap (16843009 for 8 bits, 65537 for 16).
inline constexpr ExportMessage kFitsNoBlock{"The block size must be at least 1 frame.\nNothing was written.",
                                            "SaveFitsBlocks"};
inline constexpr ExportMessage kFitsHugeBlock{
    "Blocks of %u frames could add up to more than 32 bits hold: the sums of %d-bit values are exact for blocks of "
    "up to %u frames.\nNothing was written.",
    "SaveFitsBlocks"};
// First and last frame of the block, what the FITS library said (it names the file), what became
// of the files saved before it (KeptFiles).
inline constexpr ExportMessage kFitsSave{"Unable to save the sum of frames %d to %d: %s.\nThe export stopped; %s.",
                                         "kxFitsFile::saveToFile"};

// Asked to stop. Source frame, what became of the files completed before it (KeptFiles).
inline constexpr ExportMessage kStopped{"Stopped before frame %d, as asked; %s, and no unfinished file was left.",
                                        "Stopped"};

// Frames that gave no picture: "1 frame of x.avi could not be read and was left out: frame 10."
// The count with its noun, the capture file name, "was" or "were", the frames listed.
inline constexpr ExportMessage kLeftOut{"%s of %s could not be read and %s left out: %s.", "Frames left out"};

} // namespace kestro::exports::messages
