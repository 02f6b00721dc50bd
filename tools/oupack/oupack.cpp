// oupack: the package tool. Builds update packages (optionally split into
// volumes), appends a package to the updater to make a self-contained update,
// lists or extracts a package or a self-contained update, and checks what a
// package tells the updater to do. Extraction runs the updater's own restore
// engine; the check reads the script and the language file with the
// updater's own readers.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "common/Errors.h"
#include "common/UserInterface.h"
#include "package/PackageList.h"
#include "package/PackageLocation.h"
#include "package/PackageManifest.h"
#include "package/PackageReader.h"
#include "package/PackageSignature.h"
#include "package/PackageWriter.h"
#include "package/backup.h"
#include "platform/Platform.h"

#include "PackageCheck.h"
#include "PackageSigner.h"

#ifdef _WIN32
#include "platform/win32/WinApi.h"

#include <shellapi.h>

#include <memory>

#include "platform/win32/AnsiNames.h"
#include "platform/win32/DllSearch.h"
#endif

namespace oup {
namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  oupack create -o PACKAGE [--title TEXT] [--volume-size BYTES] [--force] FILE...\n"
    "      Packs the files into PACKAGE (name it *.oup). Each file is stored under its\n"
    "      path as given, with its last-write time. --volume-size splits the package\n"
    "      into volumes of at most BYTES bytes: PACKAGE, then .002, .003, ...\n"
    "      The files are checked first, as oupack check does; with an error nothing\n"
    "      is written unless --force is given.\n"
    "  oupack append UPDATER.exe PACKAGE -o OUTPUT.exe\n"
    "      Writes a self-contained update: the updater with the package behind its\n"
    "      image. The package must be a single volume. Sign OUTPUT.exe afterwards\n"
    "      (oupack append --help tells how); a signed updater loses its signature.\n"
    "  oupack list PACKAGE|EXE\n"
    "      Prints each entry's date, size, blocks and name.\n"
    "  oupack extract PACKAGE|EXE DIR\n"
    "      Restores every file into DIR as the updater does.\n"
    "  oupack check [--strict] PACKAGE|EXE\n"
    "      Reads the package (its volumes, or the package behind a signed or unsigned\n"
    "      updater) as the updater would, and prints one line per finding, with the\n"
    "      script's line where one applies (oupdate.inf:LINE: error: ...).\n"
    "      Errors: a header line or entry date that does not read, a SourceName that\n"
    "      is not in the package, a SourceName or TargetName that is not a plain file\n"
    "      name, a TargetDir that is not absolute once its macro is replaced (no\n"
    "      macro: no drive or \\\\server\\share), no language file or more than one,\n"
    "      a language file of fewer than 27 texts, a ProgramFile that is empty or\n"
    "      holds a path. Warnings: a mode that is none of the four mode texts, a\n"
    "      package file that no entry uses, two package files or two targets whose\n"
    "      names differ only in letter case, an absolute TargetDir without a macro.\n"
    "      Names compare without regard to letter case, as on Windows. A package file\n"
    "      with PACKAGE.sig beside it: \"signed by SUBJECT; every volume matches\", or\n"
    "      an error that names what does not match; without one, a warning (a signed\n"
    "      updater refuses the package). Exit status 1 with an error, else 0;\n"
    "      --strict makes warnings count as errors.\n"
    "  oupack sign --cert CERT.pem --key KEY.pem [--chain CHAIN.pem] PACKAGE\n"
    "      Writes PACKAGE.sig beside the package's first volume: its program and\n"
    "      version and each volume's name, size and SHA-256, signed (CMS, RSA with\n"
    "      SHA-256). Use the certificate that signs oupdate.exe: a signed updater\n"
    "      takes only packages signed with its own key. The certificate must name\n"
    "      code signing in its extended key usage; the key must be RSA, in PEM\n"
    "      without a passphrase. --chain adds certificates to carry along.\n"
    "      Linux only: oupack.exe refuses it.\n"
    "  oupack --help\n"
    "Exit status: 0 on success, 1 when the work failed, 2 for a bad command line.\n";

constexpr const char* kAppendUsage =
    "Usage: oupack append UPDATER.exe PACKAGE -o OUTPUT.exe\n"
    "\n"
    "Writes a self-contained update: the updater with the package behind its image.\n"
    "The package must be a single volume.\n"
    "\n"
    "Signing: append first, then sign OUTPUT.exe. A signature covers the file as it\n"
    "was signed, so a package appended later would not be covered by it: appending\n"
    "onto a signed updater removes the updater's signature (oupack says so), and the\n"
    "result must be signed again. Sign with a timestamp server, or the signature\n"
    "stops verifying when the certificate expires. With signtool on Windows:\n"
    "  signtool sign /fd SHA256 /f company.pfx /p PASSWORD /tr http://timestamp.digicert.com /td "
    "SHA256 OUTPUT.exe\n"
    "With osslsigncode on Linux:\n"
    "  osslsigncode sign -pkcs12 company.pfx -pass PASSWORD -ts http://timestamp.digicert.com -in "
    "OUTPUT.exe -out OUTPUT-signed.exe\n";

// A bad command line: exit status 2.
struct TUsageError : Exception {
    using Exception::Exception;
};

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// The tools take paths in the local form; the engine's path handling splits
// on backslashes, which the host platform maps back to slashes.
std::string EnginePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// Whether two paths name one file as far as their text tells: separators,
// a leading ".\\" and letter case do not count (Windows ignores case).
bool SamePath(const std::string& a, const std::string& b) {
    const auto key = [](std::string p) {
        p = EnginePath(p);
        while (p.size() > 2 && p.compare(0, 2, ".\\") == 0) p.erase(0, 2);
        return AsciiUpperCase(p);
    };
    return key(a) == key(b);
}

// Whether path has the name of one of the package's continuation volumes.
bool IsVolumeOf(const std::string& path, const std::string& package) {
    const std::string name = ExtractFileName(EnginePath(path));
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    const bool digits = ext.size() == 4 && std::all_of(ext.begin() + 1, ext.end(), [](char c) {
                            return c >= '0' && c <= '9';
                        });
    return digits && ext != ".000" && ext != ".001" &&
           SamePath(VolumePath(EnginePath(path), 2), VolumePath(EnginePath(package), 2));
}

std::string DosText(int32_t dos) {
    const auto v = DosToDateTime(dos);
    if (!v) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "(date 0x%08X)", static_cast<uint32_t>(dos));
        return buf;
    }
    return DateTimeToStr(*v);
}

bool ParseSize(const std::string& text, int64_t& out) {
    if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoll(text);
    return out > 0;
}

// A package to read: a package file, or the package behind an executable's image.
struct TPackageSource {
    std::unique_ptr<TFileStream> File;
    std::string Path;
    bool Appended = false;
    uint32_t Offset = 0;
};

TPackageSource OpenPackage(TPlatform& platform, const std::string& path) {
    if (!platform.FileExists(path)) throw Exception(Quote(path) + " is not a file");
    TPackageSource src;
    src.Path = path;
    src.File = platform.OpenFile(path, TOpenMode::ReadShared);
    if (IsPortableExecutable(*src.File)) {
        const auto headers = ReadImageHeaders(*src.File);
        const int64_t size = src.File->Size();
        if (!headers) throw Exception(Quote(path) + " has damaged executable headers");
        // The updater's own rule; a file cut inside its image carries nothing either.
        const TImageTrail trail = ReadImageTrail(*headers, size, *src.File, path);
        if (!trail.PackageStart || size < static_cast<int64_t>(headers->ImageEnd))
            throw Exception(Quote(path) + " carries no package behind its image" +
                            (trail.Signed ? ", only its signature" : ""));
        src.Appended = true;
        src.Offset = *trail.PackageStart;
    }
    src.File->SetPosition(src.Offset);
    return src;
}

std::string ReadWholeFile(TPlatform& platform, const std::string& path) {
    const auto file = platform.OpenFile(path, TOpenMode::ReadShared);
    std::string bytes;
    char buffer[16384];
    while (const size_t got = file->Read(buffer, sizeof buffer)) bytes.append(buffer, got);
    return bytes;
}

// An entry that the restore gives no name of its own stops every restore of
// the package as damage.
TFinding NamesNoFile(const std::string& entryName) {
    return {TSeverity::Error, "", 0,
            "package entry " + Quote(entryName) +
                " names no file: the updater's restore stops there as at damage"};
}

int Create(TPlatform& platform, const std::vector<std::string>& args) {
    std::string output;
    TPackageWriterOptions options;
    std::vector<std::string> files;
    bool optionsDone = false, force = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw TUsageError("create: " + a + " needs a value");
            return args[++i];
        };
        if (optionsDone || a.empty() || a[0] != '-') {
            files.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "-o" || a == "--output") {
            output = value();
        } else if (a == "--title") {
            options.Title = value();
        } else if (a == "--force") {
            force = true;
        } else if (a == "--volume-size") {
            const std::string& v = value();
            if (!ParseSize(v, options.VolumeSize))
                throw TUsageError("create: --volume-size wants a number of bytes, not " + Quote(v));
        } else {
            throw TUsageError("create: unknown option " + a);
        }
    }
    if (output.empty()) throw TUsageError("create: missing -o PACKAGE");
    if (files.empty()) throw TUsageError("create: no files to pack");
    if (options.VolumeSize > 0 && IsVolumeOf(output, output))
        throw Exception(Quote(output) +
                        " has the name of a continuation volume: a package split into volumes "
                        "needs another extension than three digits");

    // The updater restores every file into one directory by its name alone:
    // two files of one name would overwrite each other there.
    std::set<std::string> names;
    for (const std::string& f : files) {
        if (!platform.FileExists(f)) throw Exception(Quote(f) + " is not a file");
        if (SamePath(f, output) || (options.VolumeSize > 0 && IsVolumeOf(f, output)))
            throw Exception(Quote(f) + " is also the output");
        const std::string key = AsciiUpperCase(ExtractFileName(EnginePath(f)));
        if (!names.insert(key).second)
            throw Exception("two files are named " + Quote(ExtractFileName(EnginePath(f))) +
                            "; they would restore over each other");
    }

    // The checks of oupack check, on the files as the package would hold them.
    std::vector<TCheckFile> checkFiles;
    std::vector<TFinding> findings;
    for (const std::string& f : files) {
        const std::string name = RestoredName(f);
        if (name.empty()) {
            findings.push_back(NamesNoFile(f));
            continue;
        }
        checkFiles.push_back({name, CheckReadsContent(name) ? ReadWholeFile(platform, f) : ""});
    }
    TCheckResult check = CheckPackageFiles(platform, checkFiles);
    findings.insert(findings.end(), check.Findings.begin(), check.Findings.end());
    int errors = 0;
    for (const TFinding& f : findings) {
        std::fprintf(stderr, "oupack: %s\n", FormatFinding(f, output).c_str());
        if (f.Severity == TSeverity::Error) ++errors;
    }
    if (errors > 0 && !force)
        throw Exception("create: " + std::to_string(errors) + " error" + (errors == 1 ? "" : "s") +
                        " in what " + output +
                        " would hold; nothing written (--force packs it anyway)");

    std::vector<std::string> written;
    std::optional<TPackageWriter> writer;
    try {
        writer.emplace(platform, output, options);
        for (const std::string& f : files) writer->AddFile(f);
        written = writer->Finish();
    } catch (...) {
        // Leave no half-written package behind, and touch no file the
        // writer did not create (a stale x.003 may be somebody's).
        std::vector<std::string> volumes;
        if (writer) volumes = writer->VolumePaths();
        writer.reset();
        for (const std::string& v : volumes) platform.DeleteFile(v);
        throw;
    }
    std::printf("%s: %zu file%s in %zu volume%s\n", output.c_str(), files.size(),
                files.size() == 1 ? "" : "s", written.size(), written.size() == 1 ? "" : "s");
    return 0;
}

// Copies count bytes from the start of in to out.
void CopyBytes(TStream& in, TStream& out, int64_t count) {
    std::vector<uint8_t> buf(1 << 16);
    in.SetPosition(0);
    while (count > 0) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(count, int64_t(buf.size())));
        const size_t n = in.Read(buf.data(), want);
        // A file that shrinks under the copy must not give a cut copy.
        if (n == 0) throw EReadError(kReadErrorText);
        out.WriteBuffer(buf.data(), n);
        count -= static_cast<int64_t>(n);
    }
}

// Zeroes count bytes of out at offset.
void ClearBytes(TStream& out, uint32_t offset, size_t count) {
    const uint8_t zeros[8] = {};
    out.SetPosition(offset);
    out.WriteBuffer(zeros, count);
}

int Append(TPlatform& platform, const std::vector<std::string>& args) {
    std::string output;
    std::vector<std::string> inputs;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(kAppendUsage, stdout);
            return 0;
        }
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size()) throw TUsageError("append: -o needs a value");
            output = args[++i];
        } else if (!args[i].empty() && args[i][0] == '-') {
            throw TUsageError("append: unknown option " + args[i]);
        } else {
            inputs.push_back(args[i]);
        }
    }
    if (inputs.size() != 2) throw TUsageError("append: wants UPDATER.exe PACKAGE -o OUTPUT.exe");
    if (output.empty()) throw TUsageError("append: missing -o OUTPUT.exe");
    const std::string& exePath = inputs[0];
    const std::string& packagePath = inputs[1];

    if (!platform.FileExists(exePath)) throw Exception(Quote(exePath) + " is not a file");
    auto exe = platform.OpenFile(exePath, TOpenMode::ReadShared);
    if (!IsPortableExecutable(*exe)) throw Exception(Quote(exePath) + " is not a Windows executable");
    const auto headers = ReadImageHeaders(*exe);
    if (!headers) throw Exception(Quote(exePath) + " has damaged executable headers");
    const uint32_t imageEnd = headers->ImageEnd;
    const int64_t exeSize = exe->Size();
    if (exeSize < static_cast<int64_t>(imageEnd))
        throw Exception(Quote(exePath) + " is cut short: its image ends at byte " +
                        std::to_string(imageEnd));
    // Raises for an updater changed after signing.
    const TImageTrail trail = ReadImageTrail(*headers, exeSize, *exe, exePath);
    if (trail.Signed &&
        (headers->SecurityEntryAt + 8 > imageEnd || headers->CheckSumAt + 4 > imageEnd))
        throw Exception(Quote(exePath) + " has damaged executable headers");
    if (trail.PackageStart) {
        const int64_t behind =
            (trail.Signed ? int64_t(trail.CertificateOffset) : exeSize) - imageEnd;
        throw Exception(Quote(exePath) + " already carries " + std::to_string(behind) +
                        " bytes behind its image (a package?)");
    }

    if (!platform.FileExists(packagePath)) throw Exception(Quote(packagePath) + " is not a file");
    auto package = platform.OpenFile(packagePath, TOpenMode::ReadShared);
    try {
        ListPackage(platform, *package, std::string());  // one volume, and sound
    } catch (const Exception& e) {
        throw Exception("cannot append " + Quote(packagePath) + ": " + e.Message());
    }

    // Written beside the output and moved into place, so that the output may
    // even be the updater itself.
    const std::string temp = output + ".tmp";
    try {
        auto out = platform.OpenFile(temp, TOpenMode::Create);
        // A signature would not cover the package: the updater goes in
        // without its certificate table, its directory entry and the
        // checksum that signing set, as it was before it was signed.
        CopyBytes(*exe, *out, trail.Signed ? imageEnd : exeSize);
        if (trail.Signed) {
            ClearBytes(*out, headers->SecurityEntryAt, 8);
            ClearBytes(*out, headers->CheckSumAt, 4);
            out->Seek(0, TSeekOrigin::soEnd);
        }
        CopyBytes(*package, *out, package->Size());
        out.reset();
        exe.reset();
        package.reset();
        if (!platform.MoveFileReplace(temp, output)) throw Exception("cannot write " + Quote(output));
    } catch (...) {
        platform.DeleteFile(temp);
        throw;
    }
    if (trail.Signed)
        std::fprintf(stderr,
                     "oupack: warning: %s is signed; its signature was removed in %s, which must "
                     "be signed again (see oupack append --help)\n",
                     exePath.c_str(), output.c_str());
    std::printf("%s: package of %lld bytes behind an image of %u bytes\n", output.c_str(),
                static_cast<long long>(platform.QueryFileSize(output) - imageEnd), imageEnd);
    return 0;
}

int List(TPlatform& platform, const std::vector<std::string>& args) {
    if (args.size() != 1) throw TUsageError("list: wants one PACKAGE or EXE");
    TPackageSource src = OpenPackage(platform, args[0]);
    TPackageSummary s;
    try {
        s = ListPackage(platform, *src.File, src.Appended ? std::string() : src.Path);
    } catch (const EReadError&) {
        throw Exception(Quote(src.Path) + " is no package or ends early");
    } catch (const Exception& e) {
        throw Exception(Quote(src.Path) + ": " + e.Message());
    }
    if (src.Appended) std::printf("Package behind the image at byte %u\n", src.Offset);
    if (!s.Title.empty()) std::printf("Title: %s\n", s.Title.c_str());
    std::printf("%-19s  %12s  %-14s  %s\n", "Date", "Size", "Blocks", "Name");
    int64_t total = 0;
    for (const TPackageListEntry& e : s.Entries) {
        std::string blocks = std::to_string(e.Blocks);
        if (e.StoredBlocks > 0) blocks += " (" + std::to_string(e.StoredBlocks) + " stored)";
        std::printf("%-19s  %12lld  %-14s  %s", DosText(e.Date).c_str(),
                    static_cast<long long>(e.Size), blocks.c_str(), e.Name.c_str());
        if (e.LastVolume != e.FirstVolume) std::printf("  [volumes %d-%d]", e.FirstVolume, e.LastVolume);
        std::printf("\n");
        total += e.Size;
    }
    std::printf("%zu entr%s, %lld bytes, %d volume%s", s.Entries.size(),
                s.Entries.size() == 1 ? "y" : "ies", static_cast<long long>(total), s.Volumes,
                s.Volumes == 1 ? "" : "s");
    if (s.EmptyRecords) std::printf(", %d empty record%s", s.EmptyRecords, s.EmptyRecords == 1 ? "" : "s");
    std::printf("\n");
    return 0;
}

int Extract(TPlatform& platform, const std::vector<std::string>& args) {
    if (args.size() != 2) throw TUsageError("extract: wants PACKAGE|EXE DIR");
    TPackageSource src = OpenPackage(platform, args[0]);
    // A bare relative name gets ".\" so that even a one-letter directory
    // reads as a directory and not as a drive.
    std::string dir = EnginePath(args[1]);
    const bool absolute = (!dir.empty() && dir[0] == '\\') || (dir.size() > 1 && dir[1] == ':');
    if (!absolute) dir = ".\\" + dir;
    if (!platform.ForceDirectories(dir)) throw Exception("cannot create the directory " + Quote(args[1]));

    TSilentUserInterface ui;
    TBackupFile backup(platform, ui);
    ApplyFormSettings(backup);
    bool reported = false;
    backup.OnError = [&](TBackupFile&, int32_t code, const std::string& text) {
        std::fprintf(stderr, "oupack: extracting %s failed: %s (error %d)\n", src.Path.c_str(),
                     text.c_str(), code);
        reported = true;
    };
    std::set<uint16_t> disksAsked;
    backup.OnNeedDisk = [&](TBackupFile&, uint16_t disk, bool& go) {
        const std::string next = VolumePath(platform, src.Path, disk);
        // Nobody can swap disks here: a volume asked for twice means the
        // package leads round in a circle.
        if (!disksAsked.insert(disk).second) {
            std::fprintf(stderr, "oupack: volume %u of %s comes round again: %s\n", disk,
                         src.Path.c_str(), next.c_str());
            reported = true;
            go = false;
            return;
        }
        go = platform.FileExists(next);
        if (!go) {
            std::fprintf(stderr, "oupack: volume %u of %s is missing: %s\n", disk, src.Path.c_str(),
                         next.c_str());
            reported = true;
        }
    };
    bool ok;
    try {
        if (src.Appended) {
            ok = backup.RestoreStream(*src.File, dir);
        } else {
            src.File.reset();  // the engine opens the volumes itself
            ok = backup.Restore(src.Path, dir);
        }
    } catch (const std::exception& e) {
        throw Exception("extracting " + src.Path + " failed: " + e.what());
    }
    if (!ok && !reported) std::fprintf(stderr, "oupack: extracting %s was cancelled\n", src.Path.c_str());
    return ok ? 0 : 1;
}

// The signature of a package file as an unsigned updater checks it (for
// integrity: the tool has no publisher to compare with). Sets signedBy and
// returns nothing when the package is signed and every volume matches.
std::optional<TFinding> SignatureFinding(TPlatform& platform, const std::string& path,
                                         std::string& signedBy) {
    std::vector<std::string> details;
    try {
        const TPackageSignatureCheck sig = CheckPackageSignature(
            platform, EnginePath(path), nullptr, [&](const std::string& line) { details.push_back(line); });
        if (!sig.Signed)
            return TFinding{TSeverity::Warning, "", 0,
                            std::string(kNotSignedText) + " (no " +
                                ExtractFileName(SignatureFilePath(EnginePath(path))) +
                                "): a signed oupdate.exe refuses it"};
        signedBy = "signed by " + sig.Signer.Subject + "; every volume matches";
        return std::nullopt;
    } catch (const EPackageSignature& e) {
        // The reason as the updater gives it, then what it found.
        std::string message = e.what();
        for (size_t i = 0; i < details.size(); ++i) message += (i ? "; " : " (") + details[i];
        return TFinding{TSeverity::Error, "", 0, details.empty() ? message : message + ")"};
    }
}

int Check(TPlatform& platform, const std::vector<std::string>& args) {
    bool strict = false;
    std::vector<std::string> inputs;
    for (const std::string& a : args) {
        if (a == "--strict")
            strict = true;
        else if (!a.empty() && a[0] == '-')
            throw TUsageError("check: unknown option " + a);
        else
            inputs.push_back(a);
    }
    if (inputs.size() != 1) throw TUsageError("check: wants one PACKAGE or EXE");
    const std::string& shown = inputs[0];
    TPackageSource src = OpenPackage(platform, shown);
    // A self-contained update is covered by its Authenticode signature; a
    // package file by its own, checked first: a package changed after it was
    // signed may no longer read at all, and the signature says why.
    std::string signedBy;
    std::optional<TFinding> signature;
    if (!src.Appended) signature = SignatureFinding(platform, src.Path, signedBy);
    const auto sayBroken = [&] {
        if (signature && signature->Severity == TSeverity::Error)
            std::printf("%s\n", FormatFinding(*signature, shown).c_str());
    };
    // The same walk as oupack list, keeping what the check reads.
    TPackageSummary summary;
    try {
        summary = ListPackage(
            platform, *src.File, src.Appended ? std::string() : src.Path,
            [](const std::string& name) { return CheckReadsContent(RestoredName(name)); });
    } catch (const EReadError&) {
        sayBroken();
        throw Exception(Quote(src.Path) + " is no package or ends early");
    } catch (const Exception& e) {
        sayBroken();
        throw Exception(Quote(src.Path) + ": " + e.Message());
    }

    std::vector<TFinding> findings;
    std::vector<TCheckFile> files;
    for (TPackageListEntry& e : summary.Entries) {
        if (e.Name == kFileListName) continue;  // never written out
        const std::string name = RestoredName(e.Name);
        if (name.empty()) {
            findings.push_back(NamesNoFile(e.Name));
            continue;
        }
        files.push_back({name, std::move(e.Content)});
    }
    const TCheckResult check = CheckPackageFiles(platform, files);
    findings.insert(findings.end(), check.Findings.begin(), check.Findings.end());
    if (signature) findings.push_back(*signature);

    int errors = 0, warnings = 0;
    for (const TFinding& f : findings) {
        std::printf("%s\n", FormatFinding(f, shown).c_str());
        ++(f.Severity == TSeverity::Error ? errors : warnings);
    }
    const auto count = [](size_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    const std::string verdict = errors + warnings == 0 ? "no findings"
                                                       : count(errors, "error", "errors") + ", " +
                                                             count(warnings, "warning", "warnings");
    std::string about = count(files.size(), "package entry", "package entries");
    if (check.HaveScript)
        about += ", " + count(check.Script.FileEntries.size(), "script entry", "script entries");
    if (!check.LanguageFile.empty())
        about += ", language file " + check.LanguageFile + " (" +
                 count(check.LanguageTexts, "text", "texts") + ")";
    about += check.HaveNotes ? ", notes" : ", no notes";
    if (!signedBy.empty()) std::printf("%s: %s\n", shown.c_str(), signedBy.c_str());
    std::printf("%s: %s (%s)\n", shown.c_str(), verdict.c_str(), about.c_str());
    return errors > 0 || (strict && warnings > 0) ? 1 : 0;
}

int Sign(TPlatform& platform, const std::vector<std::string>& args) {
    TSignerFiles signer;
    std::vector<std::string> inputs;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw TUsageError("sign: " + a + " needs a value");
            return args[++i];
        };
        if (a == "--cert") signer.Certificate = value();
        else if (a == "--key") signer.Key = value();
        else if (a == "--chain") signer.Chain = value();
        else if (!a.empty() && a[0] == '-') throw TUsageError("sign: unknown option " + a);
        else inputs.push_back(a);
    }
    if (inputs.size() != 1) throw TUsageError("sign: wants one PACKAGE");
    if (signer.Certificate.empty() || signer.Key.empty())
        throw TUsageError("sign: wants --cert CERT.pem and --key KEY.pem");
#ifdef _WIN32
    (void)platform;
    throw Exception("sign: oupack.exe cannot sign packages; sign them with oupack on Linux");
#else
    TPackageSource src = OpenPackage(platform, inputs[0]);
    if (src.Appended)
        throw Exception(Quote(src.Path) +
                        " is a self-contained update: its package is covered by the signature of "
                        "the executable (signtool or osslsigncode), not by a .sig");
    // The volumes and the script, as the updater will read them.
    TPackageSummary summary;
    try {
        summary = ListPackage(platform, *src.File, src.Path, [](const std::string& name) {
            return AsciiUpperCase(RestoredName(name)) == AsciiUpperCase(kScriptFileName);
        });
    } catch (const EReadError&) {
        throw Exception(Quote(src.Path) + " is no package or ends early");
    } catch (const Exception& e) {
        throw Exception(Quote(src.Path) + ": " + e.Message());
    }
    src.File.reset();
    const TPackageListEntry* script = nullptr;
    for (const TPackageListEntry& e : summary.Entries)
        if (e.Kept) script = &e;  // the last of a name is the one restored
    if (!script)
        throw Exception(Quote(src.Path) + " has no update script " + kScriptFileName +
                        ", whose program and version the signature names");
    TUpdateScript header;
    TMemoryStream scriptStream(std::vector<uint8_t>(script->Content.begin(), script->Content.end()));
    ReadUpdateScript(scriptStream, header, [](int, const std::string&) {});

    TPackageManifest manifest;
    manifest.ProgramName = header.ProgramName;
    manifest.ProgramVersion = header.ProgramVersion;
    for (const std::string& volume : summary.VolumePaths) {
        TManifestVolume& v = manifest.Volumes.emplace_back();
        v.Name = ExtractFileName(EnginePath(volume));
        const auto file = platform.OpenFile(volume, TOpenMode::ReadDenyWrite);
        if (!platform.Sha256(*file, v.Digest, v.Size))
            throw Exception("no SHA-256 on this system");
    }
    std::string text;
    try {
        text = WriteManifest(manifest);
    } catch (const EManifestError& e) {
        throw Exception("cannot sign " + Quote(src.Path) + ": " + e.Message());
    }
    const std::vector<uint8_t> der = SignManifest(text, signer);

    // Written beside and moved into place: a half-written signature never
    // stands in for a whole one.
    const std::string sigPath = SignatureFilePath(EnginePath(src.Path));
    const std::string shownSig = SignatureFilePath(src.Path);
    const std::string temp = sigPath + ".tmp";
    try {
        auto out = platform.OpenFile(temp, TOpenMode::Create);
        out->WriteBuffer(der.data(), der.size());
        out.reset();
        if (!platform.MoveFileReplace(temp, sigPath)) throw Exception("cannot write " + Quote(shownSig));
    } catch (...) {
        platform.DeleteFile(temp);
        throw;
    }
    // Read back as an updater reads it, so a signature that would not verify
    // is found here rather than on the users' machines.
    std::string signedBy;
    if (const auto finding = SignatureFinding(platform, src.Path, signedBy))
        throw Exception(shownSig + " does not check: " + finding->Message);
    std::printf("%s: %s (%s %s, %zu volume%s)\n", shownSig.c_str(), signedBy.c_str(),
                manifest.ProgramName.c_str(), manifest.ProgramVersion.c_str(),
                manifest.Volumes.size(), manifest.Volumes.size() == 1 ? "" : "s");
    return 0;
#endif
}

int Run(const std::vector<std::string>& argv) {
    if (argv.empty()) throw TUsageError("no command given");
    const std::string& command = argv[0];
    const std::vector<std::string> rest(argv.begin() + 1, argv.end());
    TPlatform& platform = SystemPlatform();
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "create") return Create(platform, rest);
    if (command == "append") return Append(platform, rest);
    if (command == "list") return List(platform, rest);
    if (command == "extract") return Extract(platform, rest);
    if (command == "check") return Check(platform, rest);
    if (command == "sign") return Sign(platform, rest);
    throw TUsageError("unknown command " + Quote(command));
}

#ifdef _WIN32
// The arguments in the ANSI code page the package code works in, taken from
// the UTF-16 command line: argv would carry '?' for every character the code
// page lacks, and name no file. A path outside the code page is taken by its
// short form (an output that does not exist yet by its folder's); an
// argument with no usable form is refused by name rather than guessed at.
std::vector<std::string> ProgramArguments() {
    int count = 0;
    const std::unique_ptr<wchar_t*, decltype(&::LocalFree)> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count), &::LocalFree);
    if (!wide) throw Exception("the command line could not be read");
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        const std::wstring arg = wide.get()[i];
        std::string ansi;
        if (!win32::ToAnsiExact(arg, ansi)) {
            ansi = win32::UsableAnsiPathToCreate(arg);
            if (ansi.empty())
                throw Exception(Quote(win32::ShownAnsi(arg)) +
                                " cannot be written in this system's ANSI code page, and has "
                                "no short name that can");
        }
        args.push_back(ansi);
    }
    return args;
}
#else
std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}
#endif

}  // namespace
}  // namespace oup

int main([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
#ifdef _WIN32
    oup::win32::LoadLibrariesFromSystemDirectoryOnly();
#endif
    try {
#ifdef _WIN32
        const std::vector<std::string> args = oup::ProgramArguments();
#else
        const std::vector<std::string> args = oup::ProgramArguments(argc, argv);
#endif
        return oup::Run(args);
    } catch (const oup::TUsageError& e) {
        std::fprintf(stderr, "oupack: %s (see oupack --help)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "oupack: %s\n", e.what());
        return 1;
    }
}
