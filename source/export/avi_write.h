// The AVI writer: eight free operations over the AVI file services that create a file holding one
// uncompressed video stream and append frame bitmaps to it as key frames. The caller holds the
// handles; each operation returns true on success and never throws. Two engines use it: the single
// AVI export (5 frames per second) and the RGB channel split (three files at 2 frames per second).
//
// Calling order per output file: AviWriteInit once per export, AviWriteOpenFile,
// AviWriteCreateStream, AviWriteSetCompression with the bitmap that fixes the format, AviWriteFrame
// at positions 0, 1, 2, ..., then AviWriteReleaseStreams and AviWriteReleaseFile, and AviWriteExit
// once the last file is released. Exporters call AVIFileCommit before the releases: releasing
// completes the file too but cannot say that the disk filled up on the way.
#pragma once

#include "avifile.h"

#include <cstddef>
#include <cstdint>
#include <string>

bool AviWriteInit();
// Creates the file, replacing one of that name.
bool AviWriteOpenFile(PAVIFILE* ppFile, const std::string& strPath);
// A video stream of dwRate frames per second whose frame rectangle is nWidth x nHeight.
bool AviWriteCreateStream(PAVIFILE pFile, PAVISTREAM* ppStream, DWORD dwRate, DWORD dwSuggestedBufferSize, LONG nWidth,
                          LONG nHeight);
// The stream that stores frames unchanged ('DIB '), with the bitmap's header and colour table as
// its format.
bool AviWriteSetCompression(PAVISTREAM pStream, PAVISTREAM* ppCompressed, const BITMAPINFOHEADER* pBitmap);
// The bitmap's pixels as the key frame at nPosition.
bool AviWriteFrame(PAVISTREAM pCompressed, LONG nPosition, const BITMAPINFOHEADER* pBitmap);
// Each handle that is not null is released, in the order given.
bool AviWriteReleaseStreams(PAVISTREAM pFirst, PAVISTREAM pSecond, PAVISTREAM pThird);
bool AviWriteReleaseFile(PAVIFILE pFile);
bool AviWriteExit();

// AviWriteInit now and AviWriteExit when it goes, around one export.
class CAviWriteSession {
public:
    CAviWriteSession() { AviWriteInit(); }
    ~CAviWriteSession() { AviWriteExit(); }
    CAviWriteSession(const CAviWriteSession&) = delete;
    CAviWriteSession& operator=(const CAviWriteSession&) = delete;
};
