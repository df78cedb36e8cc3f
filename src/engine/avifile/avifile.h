// The AVI file services: the operations, records and result codes through which the join engine
// and the file probe read, edit and write AVI files. They keep the platform's names, argument
// order and results, so the engine reads like a program written against the platform, but the
// implementation is our own and portable: it reads AVI 1.0 and OpenDML, edits streams as lists of
// segments without copying media data, and saves by stream copy at any size.
#pragma once

#include <cstdint>

// ---- Result codes -------------------------------------------------------------------------------

using AviResult = std::int32_t;  // 0 for success, else an AVIERR_* value

constexpr AviResult MakeAviError(std::uint32_t n) {
    return static_cast<AviResult>(0x80044000u + n);
}

constexpr AviResult AVIERR_OK = 0;
constexpr AviResult AVIERR_UNSUPPORTED = MakeAviError(101);
constexpr AviResult AVIERR_BADFORMAT = MakeAviError(102);
constexpr AviResult AVIERR_MEMORY = MakeAviError(103);
constexpr AviResult AVIERR_INTERNAL = MakeAviError(104);
constexpr AviResult AVIERR_BADFLAGS = MakeAviError(105);
constexpr AviResult AVIERR_BADPARAM = MakeAviError(106);
constexpr AviResult AVIERR_BADSIZE = MakeAviError(107);
constexpr AviResult AVIERR_BADHANDLE = MakeAviError(108);
constexpr AviResult AVIERR_FILEREAD = MakeAviError(109);
constexpr AviResult AVIERR_FILEWRITE = MakeAviError(110);
constexpr AviResult AVIERR_FILEOPEN = MakeAviError(111);
constexpr AviResult AVIERR_COMPRESSOR = MakeAviError(112);
constexpr AviResult AVIERR_NOCOMPRESSOR = MakeAviError(113);
constexpr AviResult AVIERR_READONLY = MakeAviError(114);
constexpr AviResult AVIERR_NODATA = MakeAviError(115);
constexpr AviResult AVIERR_BUFFERTOOSMALL = MakeAviError(116);
constexpr AviResult AVIERR_CANTCOMPRESS = MakeAviError(117);
constexpr AviResult AVIERR_USERABORT = MakeAviError(198);
constexpr AviResult AVIERR_ERROR = MakeAviError(199);

// The platform name of a result code ("AVIERR_FILEREAD"), or nullptr for codes outside the table.
const char* AviErrorName(AviResult result);

// ---- Four-character codes -----------------------------------------------------------------------

constexpr std::uint32_t MakeFourCC(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

constexpr std::uint32_t streamtypeVIDEO = MakeFourCC('v', 'i', 'd', 's');  // 0x73646976
constexpr std::uint32_t streamtypeAUDIO = MakeFourCC('a', 'u', 'd', 's');  // 0x73647561
constexpr std::uint32_t streamtypeMIDI = MakeFourCC('m', 'i', 'd', 's');
constexpr std::uint32_t streamtypeTEXT = MakeFourCC('t', 'x', 't', 's');

// ---- Records ------------------------------------------------------------------------------------

struct AviRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

constexpr std::uint32_t AVISTREAMINFO_DISABLED = 0x1;
constexpr std::uint32_t AVISTREAMINFO_FORMATCHANGES = 0x10000;

struct AVISTREAMINFOA {
    std::uint32_t fccType;
    std::uint32_t fccHandler;
    std::uint32_t dwFlags;
    std::uint32_t dwCaps;
    std::uint16_t wPriority;
    std::uint16_t wLanguage;
    std::uint32_t dwScale;
    std::uint32_t dwRate;
    std::uint32_t dwStart;
    std::uint32_t dwLength;
    std::uint32_t dwInitialFrames;
    std::uint32_t dwSuggestedBufferSize;
    std::uint32_t dwQuality;
    std::uint32_t dwSampleSize;
    AviRect rcFrame;
    std::uint32_t dwEditCount;
    std::uint32_t dwFormatChangeCount;
    char szName[64];
};
static_assert(sizeof(AVISTREAMINFOA) == 140, "AVISTREAMINFOA must keep the platform layout");

constexpr std::uint32_t AVICOMPRESSF_INTERLEAVE = 0x1;
constexpr std::uint32_t AVICOMPRESSF_DATARATE = 0x2;
constexpr std::uint32_t AVICOMPRESSF_KEYFRAMES = 0x4;
constexpr std::uint32_t AVICOMPRESSF_VALID = 0x8;

// Save options of one stream. lpFormat and lpParms are owned by the record once set and are
// released by AVISaveOptionsFree, so they must come from AviAllocOptionBuffer.
struct AVICOMPRESSOPTIONS {
    std::uint32_t fccType;
    std::uint32_t fccHandler;
    std::uint32_t dwKeyFrameEvery;
    std::uint32_t dwQuality;
    std::uint32_t dwBytesPerSecond;
    std::uint32_t dwFlags;
    void* lpFormat;
    std::uint32_t cbFormat;
    void* lpParms;
    std::uint32_t cbParms;
    std::uint32_t dwInterleaveEvery;
};
static_assert(sizeof(AVICOMPRESSOPTIONS) == (sizeof(void*) == 4 ? 44 : 56),
              "AVICOMPRESSOPTIONS must keep the platform layout of this target");

// A zero-filled buffer for AVICOMPRESSOPTIONS::lpFormat or lpParms; nullptr when out of memory.
void* AviAllocOptionBuffer(std::uint32_t size);
// Frees a buffer from AviAllocOptionBuffer; nullptr is ignored.
void AviFreeOptionBuffer(void* buffer);

// ---- Handles ------------------------------------------------------------------------------------

class AviFile;
class AviStream;
using PAVIFILE = AviFile*;
using PAVISTREAM = AviStream*;

// ---- Operations ---------------------------------------------------------------------------------

// The version of these services in the platform's encoding: major in the high word.
std::uint32_t VideoForWindowsVersion();

void AVIFileInit();
void AVIFileExit();

constexpr std::uint32_t OF_READ = 0;

// Opens an AVI file for reading. Reads headers and index only, never media data.
AviResult AVIFileOpenA(PAVIFILE* file, const char* path, std::uint32_t mode, const void* handler);
// Stream `index` (from 0) of the given type, or of any type when fccType is 0.
AviResult AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, std::uint32_t fccType,
                           std::int32_t index);
// Reference counting: each returns the count left after the call.
std::uint32_t AVIFileAddRef(PAVIFILE file);
std::uint32_t AVIFileRelease(PAVIFILE file);
std::uint32_t AVIStreamAddRef(PAVISTREAM stream);
std::uint32_t AVIStreamRelease(PAVISTREAM stream);

AviResult AVIStreamInfoA(PAVISTREAM stream, AVISTREAMINFOA* info, std::int32_t size);
std::int32_t AVIStreamStart(PAVISTREAM stream);
std::int32_t AVIStreamLength(PAVISTREAM stream);
// With format == nullptr, *size receives the format's size; otherwise up to *size bytes are
// copied and *size receives the format's size.
AviResult AVIStreamReadFormat(PAVISTREAM stream, std::int32_t position, void* format,
                              std::int32_t* size);
// Reads `samples` samples from `start` (AVISTREAMREAD_CONVENIENT: as many as fit in one chunk).
// With buffer == nullptr only the sizes are reported.
constexpr std::int32_t AVISTREAMREAD_CONVENIENT = -1;
AviResult AVIStreamRead(PAVISTREAM stream, std::int32_t start, std::int32_t samples, void* buffer,
                        std::int32_t bufferSize, std::int32_t* bytesRead,
                        std::int32_t* samplesRead);

AviResult CreateEditableStream(PAVISTREAM* editable, PAVISTREAM source);
AviResult EditStreamCopy(PAVISTREAM stream, std::int32_t* start, std::int32_t* length,
                         PAVISTREAM* result);
AviResult EditStreamCut(PAVISTREAM stream, std::int32_t* start, std::int32_t* length,
                        PAVISTREAM* result);
AviResult EditStreamClone(PAVISTREAM stream, PAVISTREAM* result);
AviResult EditStreamPaste(PAVISTREAM target, std::int32_t* position, std::int32_t* length,
                          PAVISTREAM source, std::int32_t sourceStart, std::int32_t sourceLength);

// An in-memory file over the given streams (each gains a reference).
AviResult AVIMakeFileFromStreams(PAVIFILE* file, std::int32_t count, PAVISTREAM* streams);

// The AVI clipboard: one process-wide file reference. The user's system clipboard is left alone.
AviResult AVIPutFileOnClipboard(PAVIFILE file);
AviResult AVIGetFromClipboard(PAVIFILE* file);
AviResult AVIClearClipboard();

// Progress of a save in percent; a nonzero return cancels the save with AVIERR_USERABORT.
using AVISAVECALLBACK = std::int32_t (*)(std::int32_t percent);

// Saves the streams by stream copy. An options record whose fccHandler is 0 or the stream's own
// handler means "copy"; any other compressor gives AVIERR_NOCOMPRESSOR. The output is written to
// a temporary file beside `path` and renamed into place only when the save succeeded.
AviResult AVISaveVA(const char* path, const void* handler, AVISAVECALLBACK callback,
                    std::int32_t count, PAVISTREAM* streams, AVICOMPRESSOPTIONS** options);
AviResult AVISaveVW(const char16_t* path, const void* handler, AVISAVECALLBACK callback,
                    std::int32_t count, PAVISTREAM* streams, AVICOMPRESSOPTIONS** options);
AviResult AVISaveOptionsFree(std::int32_t count, AVICOMPRESSOPTIONS** options);
