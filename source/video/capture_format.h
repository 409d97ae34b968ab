// Which reader a capture is read with, chosen by the file's first bytes and never by its name: a
// SER capture renamed .avi is still read as SER. The video source, the frame scorer and the
// command line's folder scan all ask here.
#pragma once

#include <string>

enum class CaptureFormat { None, Avi, Ser };

namespace kestro::video {

// Ser when the file begins like a SER capture; Avi for anything else, including a file that
// cannot be read: the AVI services then say why it cannot be opened.
CaptureFormat CaptureFormatOf(const std::string& path);

} // namespace kestro::video
