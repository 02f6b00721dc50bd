#include "package/PackageList.h"

#include <memory>
#include <set>

#include "common/Errors.h"
#include "package/PackageReader.h"

namespace oup {

namespace {

// Walks entry data (signature, blocks, closing zero) and adds what it holds
// to the entry, or only checks it when entry is null.
void WalkEntryData(TPackageReader& reader, TPackageListEntry* entry, uint8_t* in, uint8_t* out) {
    if (!reader.ReadEntrySignature())
        throw Exception("entry data does not start with the signature " +
                        std::string(kEntrySignature));
    const std::string where = entry ? " in entry " + entry->Name : "";
    for (TPackageBlock block; !(block = reader.NextBlock()).End();) {
        if (block.TooLong())
            throw Exception("block of " + std::to_string(block.Length) + " bytes" + where +
                            " is longer than " + std::to_string(kPackageBlockSize) + " bytes");
        reader.ReadBlock(block, in);
        size_t size = block.Length;
        if (block.Compressed()) {
            const TInflatedBlock inflated = InflateBlock(in, block.Length, out);
            if (!inflated.Started) throw Exception("cannot start the inflater");
            if (!inflated.Complete) throw Exception("damaged compressed block" + where);
            size = inflated.Size;
        }
        if (entry) {
            if (entry->Kept)
                entry->Content.append(reinterpret_cast<const char*>(block.Compressed() ? out : in),
                                      size);
            entry->Size += static_cast<int64_t>(size);
            ++entry->Blocks;
            if (!block.Compressed()) ++entry->StoredBlocks;
        }
    }
}

}  // namespace

TPackageSummary ListPackage(TPlatform& platform, TStream& input, const std::string& path,
                            const std::function<bool(const std::string& name)>& keep) {
    TPackageReader reader(input, &platform, path);
    const TPackageHeader header = reader.ReadHeader(true);
    TPackageSummary summary;
    summary.Title = header.Title;
    summary.TotalSize = header.TotalSize;
    summary.FileCount = header.FileCount;

    // A switch back to a volume already read would walk in a circle for ever.
    std::set<std::string> volumesRead = {path};
    if (!path.empty()) summary.VolumePaths.push_back(path);
    auto in = std::make_unique<uint8_t[]>(kBlockBufferSize);
    auto out = std::make_unique<uint8_t[]>(kPackageBlockSize);
    for (;;) {
        const TPackageRecord record = reader.NextRecord();
        if (record.Kind == TRecordKind::End) break;
        if (record.Kind == TRecordKind::Empty) {
            ++summary.EmptyRecords;
            continue;
        }
        if (record.Overlong)
            throw Exception("entry name of " + std::to_string(record.NameLength) + " bytes");
        TPackageListEntry* entry = nullptr;
        if (record.Kind == TRecordKind::VolumeSwitch) {
            if (!record.Volume) throw Exception("malformed volume switch \"" + record.Name + "\"");
            if (!reader.CanSwitchVolume())
                throw Exception("the package continues in another volume (multi-volume)");
            const std::string next = reader.NextVolumePath(record);
            if (!platform.FileExists(next)) throw Exception("missing volume " + next);
            if (!volumesRead.insert(next).second)
                throw Exception("volume " + next + " comes round again");
            reader.OpenVolume(next);
            summary.VolumePaths.push_back(next);
            ++summary.Volumes;
            if (!summary.Entries.empty()) {
                entry = &summary.Entries.back();
                entry->LastVolume = summary.Volumes;
            }
        } else {
            TPackageListEntry& added = summary.Entries.emplace_back();
            added.Name = record.Name;
            added.Date = record.Date;
            added.FirstVolume = added.LastVolume = summary.Volumes;
            added.Kept = keep && keep(record.Name);
            entry = &added;
        }
        WalkEntryData(reader, entry, in.get(), out.get());
    }
    return summary;
}

}  // namespace oup
