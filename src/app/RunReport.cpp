#include "app/RunReport.h"

#include <cstdio>

#include "app/OutputFile.h"
#include "common/Errors.h"
#include "common/JsonWriter.h"
#include "update/WritePlaces.h"

namespace oup {

namespace {

// A failure the run gives no reason for: the copy broke off or the file
// would not be replaced (the log line names only the file).
constexpr const char* kCopyFailedText = "could not be copied or replaced";

struct TWords {
    const char* Decision;  // what was decided for the pair
    const char* Outcome;   // what came of it
};

// Every report kind in the report's words; Decision null for Visiting.
TWords WordsOf(TReportKind kind) {
    switch (kind) {
        case TReportKind::Installed:
            return {"install", "installed"};
        case TReportKind::Scheduled:
            return {"install", "scheduled"};
        case TReportKind::Failed:
            return {"install", "failed"};
        case TReportKind::NotChosen:
        case TReportKind::Skipped:
            return {"skip", "skipped"};
        case TReportKind::Refused:
            return {"refuse", "failed"};
        case TReportKind::WouldInstall:
            return {"install", "would-install"};
        case TReportKind::WouldSkip:
            return {"skip", "would-skip"};
        case TReportKind::WouldFail:
            return {"install", "would-fail"};
        case TReportKind::WouldRefuse:
            return {"refuse", "would-fail"};
        // Not a file's decision: the log's lines (and for an installation
        // left unchanged, its record's leftUnchanged) say these.
        case TReportKind::Visiting:
        case TReportKind::SameAs:
        case TReportKind::PutBack:
        case TReportKind::KeptRemoved:
        case TReportKind::LeftUnchanged:
        case TReportKind::WouldLeaveUnchanged:
            break;
    }
    return {nullptr, nullptr};
}

// ISO 8601 in UTC, to the second.
std::string IsoTime(TDateTime utc) {
    const TDateTimeParts p = DecodeDateTime(utc);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", p.Year, p.Month, p.Day,
                  p.Hour, p.Minute, p.Second);
    return text;
}

}  // namespace

const char* SignatureName(TPackageSignature signature) {
    switch (signature) {
        case TPackageSignature::Appended:
            return "appended";
        case TPackageSignature::Unsigned:
            return "unsigned";
        case TPackageSignature::Signed:
            return "signed";
        case TPackageSignature::IntegrityOnly:
            return "integrity-only";
        case TPackageSignature::Unknown:
            break;
    }
    return nullptr;
}

TRunReport::TRunReport(TPlatform& platform) : platform_(platform), started_(platform.UtcNow()) {}

void TRunReport::SetProgram(const std::string& name, const std::string& version,
                            const std::string& company) {
    haveProgram_ = true;
    programName_ = name;
    programVersion_ = version;
    company_ = company;
}

void TRunReport::SetPackage(const std::string& path, TPackageSignature signature) {
    packagePath_ = path;
    signature_ = signature;
}

void TRunReport::SetInstallations(const std::vector<TInstallation>& installations) {
    installations_.clear();
    for (const TInstallation& i : installations)
        installations_.push_back({i.Dir, i.Chosen, {}, {}});
}

void TRunReport::AddDecision(const TUpdateReport& report, const TFileEntry& entry) {
    const TWords words = WordsOf(report.Kind);
    if (!words.Decision) return;
    TInstallationRecord* installation = &Installation(report.Installation);
    std::string reason = report.Reason;
    const bool installed =
        report.Kind == TReportKind::Installed || report.Kind == TReportKind::WouldInstall;
    if (!installed && reason.empty()) reason = kCopyFailedText;
    installation->Files.push_back({entry.SourceName, report.Target, entry.Mode, words.Decision,
                                   words.Outcome, installed ? std::string() : reason});
}

TRunReport::TInstallationRecord& TRunReport::Installation(const std::string& path) {
    for (TInstallationRecord& i : installations_)
        if (i.Path == path) return i;
    installations_.push_back({path, true, {}, {}});
    return installations_.back();
}

void TRunReport::AddError(const std::string& text) { errors_.push_back(text); }

void TRunReport::SetLeftUnchanged(const std::string& installation, const std::string& reason) {
    Installation(installation).LeftUnchanged = reason;
}

std::string TRunReport::Json(int exitStatus) {
    TJsonWriter json;
    // Every text of the run is ANSI; the document is UTF-8.
    const auto text = [&](const std::string& ansi) { json.String(platform_.AnsiToUtf8(ansi)); };
    json.BeginObject();
    json.Key("format");
    json.Number(kReportFormat);
    json.Key("program");
    if (haveProgram_) {
        json.BeginObject();
        json.Key("name");
        text(programName_);
        json.Key("version");
        text(programVersion_);
        json.Key("company");
        text(company_);
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("package");
    if (!packagePath_.empty()) {
        json.BeginObject();
        json.Key("path");
        text(packagePath_);
        json.Key("signature");
        if (const char* name = SignatureName(signature_))
            json.String(name);
        else
            json.Null();
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("started");
    json.String(IsoTime(started_));
    json.Key("ended");
    json.String(IsoTime(platform_.UtcNow()));
    json.Key("exitStatus");
    json.Number(exitStatus);
    json.Key("preview");
    json.Bool(preview_);
    json.Key("installations");
    json.BeginArray();
    for (const TInstallationRecord& installation : installations_) {
        json.BeginObject();
        json.Key("path");
        text(installation.Path);
        json.Key("ticked");
        json.Bool(installation.Ticked);
        if (!installation.LeftUnchanged.empty()) {
            json.Key("leftUnchanged");
            text(installation.LeftUnchanged);
        }
        json.Key("files");
        json.BeginArray();
        for (const TFileRecord& file : installation.Files) {
            json.BeginObject();
            json.Key("source");
            text(file.Source);
            json.Key("target");
            text(file.Target);
            json.Key("mode");
            text(file.Mode);
            json.Key("decision");
            json.String(file.Decision);
            json.Key("outcome");
            json.String(file.Outcome);
            if (!file.Reason.empty()) {
                json.Key("reason");
                text(file.Reason);
            }
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.Key("errors");
    json.BeginArray();
    for (const std::string& error : errors_) text(error);
    json.EndArray();
    json.EndObject();
    return json.Text();
}

void WriteReportFile(TPlatform& platform, const std::string& path, const std::string& text) {
    // The name goes through the log's rules first (a link, a second name of
    // another file, or a folder that resolves elsewhere is refused; a new
    // file gets rights for the system, the administrators and this account),
    // and the folder those rules approved is then held open: the text goes
    // into a temporary file there, flushed, and takes the name in one step,
    // so a tool reading the report never sees half of one, and a folder
    // swapped for a link after the check is not written into.
    std::string finalPath;
    OpenOutputFileSafely(platform, path, "report file", &finalPath);  // closed at once
    const std::string approvedFolder = ExtractFilePath(finalPath);
    const std::string name = ExtractFileName(path);
    std::unique_ptr<TDirectory> folder;
    if (const TOsResult opened = platform.OpenDirectory(approvedFolder, folder); !opened)
        throw EInOutError(
            FormatMessage("The folder of the report \"%s\" cannot be opened (system error %s).",
                          {path, std::to_string(opened.Error)}));
    if (platform.AnsiUpperCase(IncludeTrailingBackslash(NormalFinalPath(folder->FinalPath()))) !=
        platform.AnsiUpperCase(approvedFolder))
        throw EInOutError(
            FormatMessage("The report file \"%s\" is refused: its folder now resolves to \"%s\".",
                          {path, NormalFinalPath(folder->FinalPath())}));
    std::unique_ptr<THeldFile> temp;
    TOsResult made{kErrorFileExists};
    for (unsigned n = 0; n < 1000 && made.Error == kErrorFileExists; ++n)
        made = folder->CreateTempFile(name + ".~oup" + std::to_string(n) + ".tmp", temp);
    if (!made)
        throw EInOutError(
            FormatMessage("No temporary file can be made beside \"%s\" (system error %s).",
                          {path, std::to_string(made.Error)}));
    // Until it takes the name, the temporary file goes when it is closed.
    temp->WriteBuffer(text.data(), text.size());
    if (!temp->Flush())
        throw EInOutError(
            FormatMessage("The report \"%s\" cannot be written to the disk.", {path}));
    if (const TOsResult put = temp->CommitAs(name); !put)
        throw EInOutError(FormatMessage("The report \"%s\" cannot be replaced (system error %s).",
                                        {path, std::to_string(put.Error)}));
}

}  // namespace oup
