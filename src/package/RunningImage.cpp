#include "package/RunningImage.h"

#include <algorithm>

#include "package/ImageCode.h"

namespace oup {

namespace {

// A rename between the two looks at the name is tried again a few times
// (something may be moving files about just then); one that keeps coming
// is an attack, and the run stops.
constexpr int kOpenAttempts = 5;
constexpr unsigned kRetryDelayMs = 50;
// The loader always maps at least the first page of an image, headers and all.
constexpr size_t kMappedHeaderBytes = 4096;

}  // namespace

TRunningImage::TRunningImage(TPlatform& platform, std::string path) : path_(std::move(path)) {
    std::unique_ptr<EFOpenError> openError;
    for (int attempt = 0; attempt < kOpenAttempts && !file_; ++attempt) {
        if (attempt > 0) platform.Sleep(kRetryDelayMs);
        const std::string before = platform.MappedModuleName();
        if (before.empty())
            throw EFOpenError(
                FormatMessage(kCannotOpenFileText,
                              {path_, "The system does not name the file the program runs from"}));
        std::unique_ptr<TFileStream> file;
        try {
            file = platform.OpenMappedModuleFile(before);
        } catch (const EFOpenError& e) {
            // Renamed away between the look and the open, or held by
            // someone: the next look tells.
            openError = std::make_unique<EFOpenError>(e);
        }
        // Nobody can rename the file while this handle is open: the same
        // name afterwards means the handle holds the mapped file.
        if (file && platform.MappedModuleName() == before) file_ = std::move(file);
    }
    if (!file_) {
        if (openError) throw *openError;
        throw EImageFileChanged(FormatMessage(kImageRenamedText, {path_}));
    }

    const TMappedImage mapped = platform.MappedModule();
    if (mapped.Bytes) {
        const TCodeComparison code = CompareImageCode(*file_, mapped);
        if (code.Match != TCodeMatch::Same)
            throw EImageFileChanged(FormatMessage(kImageCodeText, {path_, code.Reason}));
    }
    // The loader's headers where there are, as the image end always came
    // from; the file's (the same bytes) otherwise.
    std::optional<TImageHeaders> headers;
    if (mapped.Bytes) {
        TSpanStream first(mapped.Bytes, std::min(mapped.Size, kMappedHeaderBytes));
        headers = ReadImageHeaders(first);
    }
    if (!headers) headers = ReadImageHeaders(*file_);
    headers_ = headers.value_or(TImageHeaders());
    fileSize_ = file_->Size();
}

TImageTrail TRunningImage::Trail() { return ReadImageTrail(headers_, fileSize_, *file_, path_); }

}  // namespace oup
