// The package reader on single records, sound and hostile: what each reads
// as, that it consumes exactly its own bytes, and that no length is trusted
// before the bytes behind it are there.
#include <gtest/gtest.h>

#include <optional>

#include "common/Errors.h"
#include "package/PackageReader.h"
#include "support/PackageKit.h"

namespace oup {
namespace {

using test::TPackageBytes;

TEST(PackageReader, RecordsReadAsTheirKindAndConsumeExactlyTheirBytes) {
    const std::string longName = "d:\\" + std::string(40000, 'n');
    const struct {
        TPackageBytes Bytes;
        TRecordKind Kind;
        std::string Name;
        bool Overlong;
        std::optional<int> Volume;
    } cases[] = {
        {TPackageBytes().Int(0), TRecordKind::End, "", false, std::nullopt},
        {TPackageBytes().Int(INT32_MIN), TRecordKind::Empty, "", false, std::nullopt},
        {TPackageBytes().Entry("d:\\a.txt", 7), TRecordKind::Entry, "d:\\a.txt", false,
         std::nullopt},
        {TPackageBytes().Entry(longName, 7), TRecordKind::Entry, longName.substr(0, kMaxEntryName),
         true, std::nullopt},
        {TPackageBytes().Record("NEXT:DISK002"), TRecordKind::VolumeSwitch, "NEXT:DISK002", false,
         2},
        {TPackageBytes().Record("NEXT:DISK0104"), TRecordKind::VolumeSwitch, "NEXT:DISK0104", false,
         10},
        {TPackageBytes().Record("NEXT:DISK0a2"), TRecordKind::VolumeSwitch, "NEXT:DISK0a2", false,
         std::nullopt},
        {TPackageBytes().Record("NEXT:DISK"), TRecordKind::VolumeSwitch, "NEXT:DISK", false,
         std::nullopt},
        {TPackageBytes().Entry("NEXT:DIS", 7), TRecordKind::Entry, "NEXT:DIS", false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name.substr(0, 20));
        // An end marker behind every other record: reached only if the record took its own bytes.
        TPackageBytes bytes = c.Bytes;
        if (c.Kind != TRecordKind::End) bytes.EndMarker();
        TMemoryStream s(bytes.Vec());
        TPackageReader reader(s);
        const TPackageRecord r = reader.NextRecord();
        EXPECT_EQ(c.Kind, r.Kind);
        EXPECT_EQ(c.Name, r.Name);
        EXPECT_EQ(c.Overlong, r.Overlong);
        EXPECT_EQ(c.Volume, r.Volume);
        if (c.Kind == TRecordKind::Entry) {
            EXPECT_EQ(7, r.Date);
        }
        if (c.Kind != TRecordKind::End) {
            EXPECT_EQ(TRecordKind::End, reader.NextRecord().Kind);
        }
        EXPECT_EQ(s.Size(), s.Position());
    }
}

TEST(PackageReader, RecordsThatEndEarlyRaise) {
    const TPackageBytes cases[] = {
        TPackageBytes().Raw("\x05\x00"),                                  // cut in NameLength
        TPackageBytes().Int(5).Raw("ab"),                                 // cut in the name
        TPackageBytes().Int(INT32_MAX).Raw("abc"),                        // a length nothing backs
        TPackageBytes().Record("d:\\a.txt"),                              // no EntryDate
        TPackageBytes().Int(40000).Raw(std::string(kMaxEntryName, 'n')),  // the rest of a long name
    };
    for (const auto& c : cases) {
        TMemoryStream s(c.Vec());
        TPackageReader reader(s);
        EXPECT_THROW(reader.NextRecord(), EReadError) << c.Size();
    }
}

}  // namespace
}  // namespace oup
