// The document's Load and Export operations and their requests.

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "codec/SampleWriterFactory.h"
#include "platform/OsError.h"

#include "document/TBASSDecoder.h"
#include "document/Twavefile.h"

namespace kestrune {

namespace {
constexpr const char* kImportFailure =
    "Could not import audio file. Format not supported or file broken";
constexpr const char* kImportCaption = "File Loading Error!";
constexpr const char* kTruncated =
    "The audio file is longer than a working copy can hold (about 3 hours 22 minutes of stereo). "
    "Only its beginning was loaded.";
constexpr const char* kTruncatedCaption = "File Loading Warning";

// "dir/.~name.ext" for "dir/name.ext": same folder (so a rename completes it), same extension.
std::string PartialName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::size_t at = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, at) + ".~" + path.substr(at);
}
}  // namespace

void Twavefile::Open(const std::string& fileName) {
    if (busy) return;
    // The Load expects a closed document; after a failed edit the old audio may still be here.
    Close();
    sourceName = fileName;
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
        ::chmod(fileName.c_str(), st.st_mode | S_IWUSR);
    operation = TOperation::Load;
    RunOperation();
}

void Twavefile::Load() {
    workFile = TLargeFile::NewTempFileName();
    TBASSDecoder decoder(sourceName, workFile);
    if (decoder.IsOpen() && decoder.Decode(progress)) {
        SetCurrent(std::make_unique<TLargeFile>(workFile, false));
        decoder.PeakIndex().Finish(index);
        indexCurrent = true;
        peak = decoder.PeakIndex().Peak();
        title = decoder.Title();
        artist = decoder.Artist();
        std::uint8_t h[TLargeFile::HeaderSize];
        current->readheader(h);
        ApplyHeader(h);
        if (frames == 0) peak = 0;
        if (decoder.Truncated())
            ui.invoke([this] { window.ShowWarning(kTruncated, kTruncatedCaption); });
    } else {
        ui.invoke([this] { window.ShowWarning(kImportFailure, kImportCaption); });
        worker->SetReturnValue(CThread::Unusable);
    }
}

bool Twavefile::SaveRange(const std::string& fileName, std::uint32_t start, std::uint32_t end) {
    if (busy) return false;
    exportName = fileName;
    rangeStart = start;
    rangeEnd = end;
    return StartExport();
}

bool Twavefile::Save() {
    if (busy) return false;
    exportName = sourceName;
    rangeStart = 0;
    rangeEnd = frames;
    return StartExport();
}

bool Twavefile::StartExport() {
    if (!IsExportExtension(exportName)) return false;
    if (!ready || !current || rangeStart > rangeEnd || rangeEnd > frames) return false;
    operation = TOperation::Export;
    RunOperation();
    return true;
}

void Twavefile::Export() {
    constexpr std::uint32_t kChunk = 4096;  // samples
    const std::uint32_t C = channels;
    std::vector<std::int16_t> buffer(kChunk);
    // The file is written beside the target under a hidden name and takes the target's place
    // only when complete, so a failed export never destroys the file it was to replace (which
    // may be the very file the document was opened from).
    const std::string partial = PartialName(exportName);
    std::unique_ptr<TSampleWriter> writer = CreateSampleWriter(partial, static_cast<int>(C));
    const std::uint32_t first = rangeStart * C;
    const std::uint32_t total = (rangeEnd - rangeStart) * C;
    const std::uint32_t chunks = total / kChunk;
    const std::uint32_t rest = total % kChunk;
    try {
        for (std::uint32_t i = 0; i < chunks; ++i) {
            progress = static_cast<std::int32_t>(std::uint64_t{i} * 100 / chunks);
            current->getblock(buffer.data(), first + kChunk * i, first + kChunk * i + kChunk - 1);
            writer->WriteSamples(buffer.data(), 2 * kChunk);
        }
        if (rest > 0)
            current->getblock(buffer.data(), first + kChunk * chunks,
                              first + kChunk * chunks + rest - 1);
        writer->WriteSamples(buffer.data(), 2 * rest);
        writer->Finish();
        if (::rename(writer->OutputPath().c_str(), exportName.c_str()) != 0)
            RaiseLastOSError(exportName);
    } catch (...) {
        // A file begun for an export that failed would look like a finished ringtone.
        const std::string path = writer->OutputPath();
        writer.reset();
        ::unlink(path.c_str());
        throw;
    }
    progress = 0;
}

}  // namespace kestrune
