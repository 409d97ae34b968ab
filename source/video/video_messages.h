// What the video source tells the user, in one table. Texts and captions are the program's
// own; the captions name the operation that failed or the condition met.
#pragma once

#include "avifile.h"

namespace kestro::video {

struct VideoMessage {
    const char* text;
    const char* caption;
};

struct ReadError {
    HRESULT result;
    VideoMessage message;
};

namespace messages {

// Open, one per step; the file name follows the first text directly. The services' reason, when
// they give one, follows on a line of its own.
inline constexpr VideoMessage kOpenFile{"Unable to open ", "AVIFileOpen"};
inline constexpr VideoMessage kGetStream{"Unable to open the AVI stream", "AVIFileGetStream"};
inline constexpr VideoMessage kStreamInfo{"Unable to obtain stream header information", "AVIStreamInfo"};
inline constexpr VideoMessage kGetFrameOpen{"Unable to prepare decompression for video stream",
                                            "AVIStreamGetFrameOpen"};
inline constexpr VideoMessage kGetFrame{"Unable to read video frame", "AVIStreamGetFrame"};

// SER captures. Opening: the file name follows the text directly, the reader's reason on a line
// of its own. What the reader noticed about a file it opened (a frame count it corrected, frame
// times cut short) is told once, under the same caption, each note naming the file.
inline constexpr VideoMessage kSerOpen{"Unable to open ", "SER capture"};
inline constexpr const char* kSerNoteCaption = "SER capture";
// Follows the sentence that says why the capture has no plane for the mode chosen (RGB frames; a
// CMY mosaic in RAW colour).
inline constexpr VideoMessage kSerNoRaw{"\nReverting to normal display", "RAW display"};
// A frame that cannot be read: the text is the reader's reason, which names the frame ("Frame 7
// could not be read: ...").
inline constexpr const char* kSerReadCaption = "SER read";

// The RAW modes' refusals. %i is the decoded width.
inline constexpr VideoMessage kNot24Bit{"Reverting to normal display", "Input AVI is not 24 bit"};
inline constexpr VideoMessage kWidthNotMultipleOf4{
    "Image width = %i is not a multiple of 4.\nReverting to normal display", "RAW display"};
inline constexpr VideoMessage kHeightNotSupported{"Image height = %i is not supported.\nReverting to normal display",
                                                  "RAW display"};
// %ld: frame; %lld: bytes stored, sensor values of a plane. A compressed capture: its frames
// cannot begin with a raw plane, so it is refused once rather than at every frame shown.
inline constexpr VideoMessage kNoRawPlanes{"Frame %ld is stored in %lld bytes, too few for its %lld sensor values: "
                                           "this capture holds no raw sensor planes.\nReverting to normal display",
                                           "RAW display"};
// %d: algorithm number, frame width, frame height.
inline constexpr VideoMessage kConverterRefused{
    "The de-mosaic algorithm %d cannot convert a frame of %d x %d pixels.\nReverting to normal display",
    "Dor2EzuPlane"};

// Reading the stored sample.
inline constexpr VideoMessage kReadMemory{"There was not enough memory to complete the read operation.",
                                          "AVIStreamRead"};
inline constexpr ReadError kReadErrors[] = {
    {AVIERR_BUFFERTOOSMALL, {"The buffer size was smaller than a single sample of data", "AVIStreamRead"}},
    {AVIERR_MEMORY, kReadMemory},
    {AVIERR_FILEREAD, {"A disk error occurred while reading the file.", "AVIStreamRead"}},
};
inline constexpr VideoMessage kGreyMemory{"There was not enough memory for the greyscale image.", "MakeGreyscale"};
// %ld: position; %lld: bytes stored, bytes the plane needs.
inline constexpr VideoMessage kSampleTooShort{"Frame %ld is stored in %lld bytes, too few for its %lld sensor values.",
                                              "AVIStreamRead"};

} // namespace messages
} // namespace kestro::video
