// Writes update packages: the header, one record per file with its blocks
// (each at most 16384 bytes, compressed into its own zlib stream, or stored
// when the stream would not fit), the end marker, and, when asked, volumes
// with switch records. oupack builds packages with it, and the tests build
// both sound and odd packages (empty records, a file list entry).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/Stream.h"
#include "platform/Platform.h"

namespace oup {

struct TPackageWriterOptions {
    std::string Title;
    // Largest size of one volume file in bytes; 0 keeps the package in one file.
    int64_t VolumeSize = 0;
    int CompressionLevel = 6;  // zlib level 0..9; any level reads back alike
};

class TPackageWriter {
public:
    // Creates the first volume at path (replacing a file there).
    TPackageWriter(TPlatform& platform, const std::string& path, TPackageWriterOptions options = {});
    TPackageWriter(const TPackageWriter&) = delete;
    TPackageWriter& operator=(const TPackageWriter&) = delete;
    ~TPackageWriter();

    // Adds the file at path under its path as given, with its last-write time.
    void AddFile(const std::string& path);
    // Adds a package entry whose content is the rest of the stream.
    void AddEntry(const std::string& entryName, int32_t entryDate, TStream& content);
    // A record with a negative NameLength, which readers pass over.
    void AddEmptyRecord(int32_t nameLength = -1);
    // A file list entry (kFileListName): carried in the package, never written out.
    void AddFileList(const std::string& content, int32_t entryDate);
    // Writes the end marker and the header's totals and closes the last
    // volume. Returns every volume file in order.
    std::vector<std::string> Finish();

    const std::vector<std::string>& VolumePaths() const { return volumes_; }

private:
    void WriteEntry(const std::string& entryName, int32_t entryDate, TStream& content,
                    bool countsInTotal);
    void Put(const void* data, size_t count);
    void PutInt32(int32_t value);
    // Makes room for count more bytes in this volume, leaving space to close
    // it; switches to a new volume when they do not fit. insideEntry tells
    // whether entry data is open (then it is closed and continued).
    void Reserve(size_t count, bool insideEntry);
    void NextVolume(bool insideEntry);

    TPlatform& platform_;
    std::string path_;
    TPackageWriterOptions options_;
    std::unique_ptr<TFileStream> out_;
    std::vector<std::string> volumes_;
    int64_t used_ = 0;        // bytes in the current volume
    int64_t totalSize_ = 0;   // uncompressed bytes of the entries a restore writes out
    int32_t fileCount_ = 0;
    bool finished_ = false;
    std::vector<uint8_t> block_;  // scratch for one compressed block
};

}  // namespace oup
