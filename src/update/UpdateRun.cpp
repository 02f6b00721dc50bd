#include "update/UpdateRun.h"

#include <cstdio>

#include "common/Errors.h"
#include "update/EntryRules.h"

namespace oup {

namespace {

std::string TargetFileOf(std::string dir, const std::string& targetName) {
    if (!dir.empty() && dir.back() == '\\') dir.pop_back();
    return dir + "\\" + targetName;
}

// DOS date-times order as unsigned numbers: years from 2044 on set the top bit.
bool EarlierDos(int32_t a, int32_t b) { return static_cast<uint32_t>(a) < static_cast<uint32_t>(b); }

}  // namespace

std::string ReplaceMacro(const std::string& text, const std::string& macro, const std::string& value) {
    const size_t at = text.find(macro);
    if (at == std::string::npos) return text;
    return Trim(text.substr(0, at) + value + text.substr(at + macro.size()));
}

std::string ExpandTargetDir(const std::string& targetDir, const std::string& installationDir,
                            const TUpdateDirs& dirs) {
    std::string dir = ReplaceMacro(targetDir, kMacroInstallDir, installationDir);
    dir = ReplaceMacro(dir, kMacroWinDir, dirs.WindowsDir);
    return ReplaceMacro(dir, kMacroWinSysDir, dirs.SystemDir);
}

bool NamesSystemDirectory(const std::string& targetDir) {
    return targetDir.find(kMacroWinDir) != std::string::npos ||
           targetDir.find(kMacroWinSysDir) != std::string::npos;
}

TUpdateRun::TUpdateRun(TPlatform& platform, std::vector<TFileEntry> entries, TUpdateDirs dirs)
    : platform_(platform), entries_(std::move(entries)), dirs_(std::move(dirs)) {}

void TUpdateRun::Report(TReportKind kind, const std::string& target, const std::string& reason,
                        const std::string& installation, size_t entry) {
    if (OnReport) OnReport({kind, target, reason, installation, entry});
}

TDecision TUpdateRun::CheckRules(const std::string& installationDir,
                                 const TFileEntry& entry) const {
    // A name with a directory in it would read from outside the work
    // directory or write outside the target; a device name reads or writes
    // nothing. Either way nothing may be read or written for the pair.
    for (const std::string* name : {&entry.SourceName, &entry.TargetName})
        if (!IsPlainFileName(*name))
            return TDecision::Refusal("\"" + *name + "\" is not a plain file name",
                                      installationDir + "\\" + *name);
    // Without an absolute target the copy would land relative to whatever
    // the current directory of some drive happens to be.
    const std::string targetDir = ExpandTargetDir(entry.TargetDir, installationDir, dirs_);
    if (!IsAbsoluteTargetDir(targetDir))
        return TDecision::Refusal("target directory \"" + targetDir + "\" is not an absolute path",
                                  installationDir + "\\" + entry.TargetName);
    return {};
}

TDecision TUpdateRun::Decide(const std::string& installationDir, const TFileEntry& entry) {
    if (TDecision refused = CheckRules(installationDir, entry); refused.Fail) return refused;
    const std::string instanceFile = installationDir + "\\" + entry.TargetName;
    const std::string& mode = entry.Mode;
    if (mode == kModeAlwaysUpdate || mode == kModeAlwaysCopy) return {true, {}};
    if (mode == kModeUpdateIfPresent) {
        if (platform_.FileExists(instanceFile)) return {true, {}};
        return {false, "missing (\"" + mode + "\")"};
    }
    if (mode == kModeUpdateIfOlder) {
        // A directory of the file's name counts as missing.
        if (!platform_.FileExists(instanceFile)) return {true, {}};
        const int32_t installed = platform_.FileAge(instanceFile);
        const int32_t packaged = platform_.FileAge(dirs_.WorkDir + entry.SourceName);
        if (packaged == -1) return {false, "the package copy is missing (\"" + mode + "\")"};
        if (installed != -1 && EarlierDos(installed, packaged)) return {true, {}};
        return {false, "not older than the package copy (\"" + mode + "\")"};
    }
    return {false, "unknown mode \"" + mode + "\""};
}

void TUpdateRun::StampFileDate(const std::string& path, TDateTime dateTime) {
    std::unique_ptr<TFileStream> file;
    try {
        file = platform_.OpenFile(path, TOpenMode::WriteShared);
    } catch (const Exception&) {
        return;  // the file keeps the time the copy gave it
    }
    // Years outside 1980..2107 pack to 0, which names no time: leave it.
    const int32_t dos = DateTimeToDos(dateTime);
    if (dos != 0) file->SetLastWriteDos(dos);
}

void TUpdateRun::Refuse(const TDecision& refusal, const std::string& installationDir,
                        size_t entryIndex) {
    ++failed_;
    Report(TReportKind::Refused, refusal.Target, refusal.Reason, installationDir, entryIndex);
}

bool TUpdateRun::CopyIntoPlace(const std::string& source, const std::string& target) {
    // The new file is made complete beside the old one first and then put in
    // its place in one step, so a copy that breaks off (a full disk, a
    // vanished source) never leaves a half-written program behind.
    const std::string dir = ExtractFilePath(target);
    std::string temp;
    for (unsigned n = 0; n < 0x10000 && temp.empty(); ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "~oup%04X.tmp", n);
        if (platform_.GetAttributes(dir + name) == kInvalidAttributes) temp = dir + name;
    }
    if (temp.empty()) return false;
    if (!platform_.CopyFile(source, temp, true)) {
        platform_.DeleteFile(temp);
        return false;
    }
    if (!platform_.MoveFileReplace(temp, target)) {
        platform_.DeleteFile(temp);
        return false;
    }
    return true;
}

void TUpdateRun::InstallEntry(const std::string& installationDir, size_t entryIndex) {
    TFileEntry& entry = entries_.at(entryIndex);
    // Also when called without Decide: such an entry is never installed.
    if (const TDecision refused = CheckRules(installationDir, entry); refused.Fail) {
        Refuse(refused, installationDir, entryIndex);
        return;
    }
    const std::string targetDir = ExpandTargetDir(entry.TargetDir, installationDir, dirs_);

    // The Windows and system directories are shared by every installation:
    // such an entry goes in once, at the first installation where it works.
    if (entry.Installed && NamesSystemDirectory(entry.TargetDir)) {
        Report(TReportKind::Skipped, TargetFileOf(targetDir, entry.TargetName),
               "already installed into the Windows or system directory", installationDir,
               entryIndex);
        return;
    }

    if (!platform_.DirectoryExists(targetDir)) {
        try {
            platform_.ForceDirectories(targetDir);
        } catch (const Exception&) {
            // A directory that cannot be made fails the copy just below.
        }
    }
    const std::string targetFile = TargetFileOf(targetDir, entry.TargetName);
    bool done = false;
    try {
        if (CopyIntoPlace(dirs_.WorkDir + entry.SourceName, targetFile)) {
            StampFileDate(targetFile, entry.FileDate);
            entry.Installed = true;
            done = true;
        }
    } catch (const Exception&) {
        done = false;
    }
    ++(done ? installed_ : failed_);
    Report(done ? TReportKind::Installed : TReportKind::Failed, targetFile, {}, installationDir,
           entryIndex);
}

void TUpdateRun::Plan(const std::vector<TInstallation>& installations) {
    installations_ = installations;
    plan_.clear();
    due_ = chosen_ = 0;
    std::vector<bool> countedOnce(entries_.size(), false);
    for (size_t i = 0; i < installations_.size(); ++i) {
        const TInstallation& installation = installations_[i];
        chosen_ += installation.Chosen;
        for (size_t e = 0; e < entries_.size(); ++e) {
            TPair pair{i, e, {}};
            if (installation.Chosen) pair.Decision = Decide(installation.Dir, entries_[e]);
            plan_.push_back(pair);
            if (!pair.Decision.Install) continue;
            // Files due, for a progress display: an entry for a directory
            // all installations share counts once.
            if (NamesSystemDirectory(entries_[e].TargetDir)) {
                if (countedOnce[e] || entries_[e].Installed) continue;
                countedOnce[e] = true;
            }
            ++due_;
        }
    }
}

void TUpdateRun::Execute() {
    installed_ = failed_ = 0;
    for (const TPair& pair : plan_) {
        const TInstallation& installation = installations_[pair.Installation];
        const std::string instanceFile = installation.Dir + "\\" + entries_[pair.Entry].TargetName;
        if (!installation.Chosen) {
            Report(TReportKind::NotChosen, instanceFile, "installation not chosen", installation.Dir,
                   pair.Entry);
            continue;
        }
        Report(TReportKind::Visiting, instanceFile, {}, installation.Dir, pair.Entry);
        if (pair.Decision.Install)
            InstallEntry(installation.Dir, pair.Entry);
        else if (pair.Decision.Fail)
            Refuse(pair.Decision, installation.Dir, pair.Entry);
        else
            Report(TReportKind::Skipped, instanceFile, pair.Decision.Reason, installation.Dir,
                   pair.Entry);
    }
}

}  // namespace oup
