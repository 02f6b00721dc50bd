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


// The Windows and system directories are shared by every installation: such
// an entry goes in once, at the first installation where it works.
bool InOnceAlready(const TFileEntry& entry, bool installed) {
    return installed && NamesSystemDirectory(entry.TargetDir);
}

// DOS date-times order as unsigned numbers: years from 2044 on set the top bit.
bool EarlierDos(int32_t a, int32_t b) { return static_cast<uint32_t>(a) < static_cast<uint32_t>(b); }

// A program that is just closing lets go of its files within moments: the
// swap of a file in use is tried again for about two seconds.
constexpr int kInUseRetries = 8;
constexpr unsigned kInUseRetryMs = 250;

// Subdirectories of the system directory that the 32-bit file-system
// redirection leaves alone (upper case, below the system directory).
constexpr const char* kNotRedirected[] = {"CATROOT\\",  "CATROOT2\\", "DRIVERS\\ETC\\",
                                          "DRIVERSTORE\\", "LOGFILES\\", "SPOOL\\"};

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

std::string InUseReason(const std::vector<TFileHolder>& holders, const std::string& detail) {
    // A library many programs load would make a line without end.
    constexpr size_t kNamed = 3;
    std::string reason = kInUseText;
    for (size_t i = 0; i < holders.size() && i < kNamed; ++i) {
        const TFileHolder& h = holders[i];
        reason += i == 0 ? " by " : ", ";
        reason += (h.Application.empty() ? h.Executable : h.Application) + " (";
        if (!h.Executable.empty() && !h.Application.empty()) reason += h.Executable + ", ";
        reason += "process " + std::to_string(h.ProcessId) + ")";
    }
    if (holders.size() > kNamed)
        reason += " and " + std::to_string(holders.size() - kNamed) + " more";
    if (!detail.empty()) reason += ": " + detail;
    return reason;
}

std::string StagedCopyName(const std::string& targetFile) { return targetFile + ".oupnew"; }

TUpdateRun::TUpdateRun(TPlatform& platform, std::vector<TFileEntry> entries, TUpdateDirs dirs)
    : platform_(platform),
      entries_(std::move(entries)),
      dirs_(std::move(dirs)),
      places_(platform, dirs_.WindowsDir, dirs_.SystemDir) {}

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

std::string TUpdateRun::TargetFile(const std::string& installationDir,
                                   const TFileEntry& entry) const {
    return TargetFileOf(ExpandTargetDir(entry.TargetDir, installationDir, dirs_), entry.TargetName);
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

TUpdateRun::TSwap TUpdateRun::CopyIntoPlace(const std::string& source,
                                            TWritePlaces::TPlace& place, const std::string& name,
                                            TDateTime date, std::string& reason) {
    // The new file is made complete beside the old one first and then put in
    // its place in one step, so a copy that breaks off (a full disk, a
    // vanished source) never leaves a half-written program behind. Until
    // then it is deleted when closed: a run that dies leaves nothing.
    TDirectory& dir = *place.Dir;
    std::unique_ptr<THeldFile> temp;
    for (unsigned n = 0; n < 0x10000 && !temp; ++n) {
        char tempName[16];
        std::snprintf(tempName, sizeof tempName, "~oup%04X.tmp", n);
        // A name taken is another updater's file (or one that outlived a
        // crash): never touched, the next name is tried.
        const TOsResult created = dir.CreateTempFile(tempName, temp);
        if (!created && created.Error != kErrorFileExists) return TSwap::Failed;
    }
    if (!temp) return TSwap::Failed;
    if (!IsAtOrBelow(platform_, temp->FinalPath(), place.BaseFinalPath)) {
        reason = kThroughALinkText;
        return TSwap::Failed;
    }
    {
        const std::unique_ptr<TFileStream> in = platform_.OpenFile(source, TOpenMode::ReadShared);
        std::vector<char> buffer(65536);
        for (size_t n; (n = in->Read(buffer.data(), buffer.size())) > 0;)
            temp->WriteBuffer(buffer.data(), n);
    }
    // Dated before the swap: a rename, now or at the restart, keeps the
    // time. Years outside 1980..2107 keep the package copy's time.
    int32_t dos = DateTimeToDos(date);
    if (dos == 0) dos = platform_.FileAge(source);
    if (dos > 0 || dos < -1) temp->SetLastWriteDos(dos);
    // On the disk before the rename: after a power cut the file system may
    // keep the rename and lose data still in the cache.
    if (!temp->Flush()) return TSwap::Failed;

    const std::string target = place.FinalPath + "\\" + name;
    TOsResult swapped = temp->CommitAs(name);
    if (!swapped && RestartReplace && HeldByAProgram(swapped, target)) {
        bool held = true;
        for (int attempt = 0; held && attempt < kInUseRetries; ++attempt) {
            platform_.Sleep(kInUseRetryMs);
            swapped = temp->CommitAs(name);
            held = !swapped && HeldByAProgram(swapped, target);
            // Let go between the attempt and the look: one more try at once.
            if (!swapped && !held) swapped = temp->CommitAs(name);
        }
        if (held) return StageForRestart(*temp, place, name, reason);
    }
    if (!swapped) return TSwap::Failed;
    // A copy an earlier run staged for this file is older than what is in
    // place now: it must not come back at the restart.
    dir.DeleteEntry(StagedCopyName(name));
    return TSwap::Replaced;
}

bool TUpdateRun::HeldByAProgram(TOsResult swap, const std::string& target) {
    // Access denied is also what a missing right gives: only an open that
    // meets another program's handle (or its running image) tells "in use".
    switch (swap.Error) {
        case kErrorAccessDenied:
        case kErrorSharingViolation:
        case kErrorLockViolation:
        case kErrorUserMappedFile:
            return platform_.FileInUse(target);
        default:
            return false;
    }
}

TUpdateRun::TSwap TUpdateRun::StageForRestart(THeldFile& temp, TWritePlaces::TPlace& place,
                                              const std::string& name, std::string& reason) {
    // The rename at boot takes paths, resolved again then: by the final
    // paths of now, and only in a folder no other user can change meanwhile.
    const std::string target = place.FinalPath + "\\" + name;
    const std::string staged = StagedCopyName(name);
    if (!OnlyAdministratorsMayWrite(place.Dir->Writers(), platform_.UserSid())) {
        reason = "its folder admits write to other users, so it is not left to be replaced at restart";
        return TSwap::InUse;
    }
    if (RenamedAtRestart(target) && temp.CommitAs(staged) &&
        platform_.MoveFileAtRestart(PathAtRestart(place.FinalPath + "\\" + staged),
                                    PathAtRestart(target)))
        return TSwap::Scheduled;
    // No staged copy without its rename: none may come back at a later restart.
    place.Dir->DeleteEntry(staged);
    return TSwap::InUse;
}

bool TUpdateRun::RenamedAtRestart(const std::string& target) {
    // Windows takes a UNC path, a network drive or a SUBST drive into the
    // pending-rename list but never renames it at boot.
    if (target.size() < 3 || target[1] != ':' || target[2] != '\\') return false;
    const std::string drive = target.substr(0, 2);
    if (platform_.GetDriveType(drive + "\\") == dtRemote) return false;
    return platform_.QueryDosDevice(drive).rfind("\\??\\", 0) != 0;  // SUBST: "\??\C:\..."
}

std::string TUpdateRun::PathAtRestart(const std::string& path) {
    // The rename at boot runs without the 32-bit redirection: what this
    // program sees as the system directory is SysWOW64 there.
    const std::string wow64 = platform_.GetSystemWow64Dir();
    if (wow64.empty() || dirs_.SystemDir.empty()) return path;
    const std::string prefix =
        platform_.AnsiUpperCase(ExcludeTrailingBackslash(dirs_.SystemDir)) + "\\";
    const std::string upper = platform_.AnsiUpperCase(path);
    if (upper.compare(0, prefix.size(), prefix) != 0) return path;
    for (const std::string exempt : kNotRedirected)
        if (upper.compare(prefix.size(), exempt.size(), exempt) == 0) return path;
    return ExcludeTrailingBackslash(wow64) + "\\" + path.substr(prefix.size());
}

void TUpdateRun::InstallEntry(const std::string& installationDir, size_t entryIndex) {
    TFileEntry& entry = entries_.at(entryIndex);
    // Also when called without Decide: such an entry is never installed.
    if (const TDecision refused = CheckRules(installationDir, entry); refused.Fail) {
        Refuse(refused, installationDir, entryIndex);
        return;
    }
    const std::string targetDir = ExpandTargetDir(entry.TargetDir, installationDir, dirs_);
    std::string targetFile = TargetFileOf(targetDir, entry.TargetName);

    if (InOnceAlready(entry, entry.Installed)) {
        Report(TReportKind::Skipped, targetFile, kAlreadyInstalledText, installationDir,
               entryIndex);
        return;
    }

    TSwap swap = TSwap::Failed;
    std::string reason;
    TWritePlaces::TPlace place;
    try {
        if (places_.Reach(installationDir, targetDir, place, reason))
            swap = CopyIntoPlace(dirs_.WorkDir + entry.SourceName, place, entry.TargetName,
                                 entry.FileDate, reason);
    } catch (const Exception&) {
        swap = TSwap::Failed;
    }
    // Who holds the file tells the user what to close; asked once it is
    // certain that someone does, of the file the run resolved.
    if (swap == TSwap::Scheduled || swap == TSwap::InUse)
        reason = InUseReason(platform_.FileHolders(place.FinalPath.empty()
                                                       ? targetFile
                                                       : place.FinalPath + "\\" + entry.TargetName),
                             reason);
    switch (swap) {
        case TSwap::Replaced:
        case TSwap::Scheduled:
            // A file waiting for the restart is in, as far as the once-only
            // rule goes: a second copy would only replace the first.
            entry.Installed = true;
            ++(swap == TSwap::Replaced ? installed_ : scheduled_);
            Report(swap == TSwap::Replaced ? TReportKind::Installed : TReportKind::Scheduled,
                   targetFile, reason, installationDir, entryIndex);
            break;
        case TSwap::Failed:
        case TSwap::InUse:
            ++failed_;
            Report(TReportKind::Failed, targetFile, reason, installationDir, entryIndex);
            break;
    }
}

void TUpdateRun::Plan(const std::vector<TInstallation>& installations) {
    installations_ = installations;
    plan_.clear();
    due_ = chosen_ = 0;
    // Each installation is resolved once, before anything is written: its
    // folder held open, its final path taken. One folder reached by two
    // paths (a link to it) is one installation, updated at its first.
    TInstallationSet resolved;
    sameAs_.assign(installations_.size(), std::string());
    std::vector<bool> countedOnce(entries_.size(), false);
    for (size_t i = 0; i < installations_.size(); ++i) {
        const TInstallation& installation = installations_[i];
        if (installation.Chosen)
            sameAs_[i] = resolved.Add(platform_, installation.Dir,
                                      places_.InstallationFinalPath(installation.Dir));
        const bool planned = installation.Chosen && sameAs_[i].empty();
        chosen_ += planned;
        for (size_t e = 0; e < entries_.size(); ++e) {
            TPair pair{i, e, {}};
            if (planned) pair.Decision = Decide(installation.Dir, entries_[e]);
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

bool TUpdateRun::ReportedSameAs(const TPair& pair) {
    const std::string& earlier = sameAs_.at(pair.Installation);
    if (earlier.empty()) return false;
    // Said once, at the installation's first pair; its pairs are the earlier one's.
    if (pair.Entry == 0)
        Report(TReportKind::SameAs, earlier, {}, installations_[pair.Installation].Dir, 0);
    return true;
}

void TUpdateRun::Execute() {
    installed_ = failed_ = scheduled_ = 0;
    const size_t perInstallation = entries_.size();
    for (size_t first = 0; first < plan_.size(); first += perInstallation) {
        const TInstallation& installation = installations_[plan_[first].Installation];
        // What an interrupted run left half swapped goes back first; the
        // pairs are then decided on the installation as it is now.
        if (installation.Chosen && sameAs_[plan_[first].Installation].empty() &&
            PutBack(installation.Dir))
            for (size_t i = first; i < first + perInstallation; ++i)
                plan_[i].Decision = Decide(installation.Dir, entries_[plan_[i].Entry]);
        if (Atomic && installation.Chosen && sameAs_[plan_[first].Installation].empty()) {
            InstallAtomically(first, perInstallation);
            continue;
        }
        for (size_t i = first; i < first + perInstallation; ++i) {
            const TPair& pair = plan_[i];
            const std::string instanceFile =
                installation.Dir + "\\" + entries_[pair.Entry].TargetName;
            if (!installation.Chosen) {
                Report(TReportKind::NotChosen, instanceFile, "installation not chosen",
                       installation.Dir, pair.Entry);
                continue;
            }
            if (ReportedSameAs(pair)) continue;
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
}

void TUpdateRun::Preview() {
    installed_ = failed_ = scheduled_ = 0;
    // The Installed flags as the run would leave them, kept apart from the
    // entries: a preview must not make a run after it skip anything.
    std::vector<bool> installed;
    for (const TFileEntry& entry : entries_) installed.push_back(entry.Installed);
    // All or nothing: the first failure of an installation leaves it as it
    // is, and what it would have installed into shared places is not in.
    std::string firstFailure;
    std::vector<bool> before = installed;
    for (const TPair& pair : plan_) {
        if (pair.Entry == 0) {
            firstFailure.clear();
            before = installed;
        }
        PreviewPair(pair, installed, firstFailure);
        if (Atomic && !firstFailure.empty() && pair.Entry + 1 == entries_.size()) {
            installed = before;
            Report(TReportKind::WouldLeaveUnchanged, {}, firstFailure,
                   installations_[pair.Installation].Dir, 0);
        }
    }
}

void TUpdateRun::PreviewPair(const TPair& pair, std::vector<bool>& installed,
                             std::string& firstFailure) {
    const TInstallation& installation = installations_[pair.Installation];
    const TFileEntry& entry = entries_[pair.Entry];
    const std::string instanceFile = installation.Dir + "\\" + entry.TargetName;
    const auto fail = [&](const std::string& target, const std::string& reason,
                          TReportKind kind = TReportKind::WouldFail) {
        ++failed_;
        Report(kind, target, reason, installation.Dir, pair.Entry);
        if (firstFailure.empty()) firstFailure = target + ": " + reason;
    };
    if (!installation.Chosen) {
        Report(TReportKind::WouldSkip, instanceFile, "installation not chosen",
               installation.Dir, pair.Entry);
        return;
    }
    if (ReportedSameAs(pair)) return;
    if (pair.Decision.Fail) {
        fail(pair.Decision.Target, pair.Decision.Reason, TReportKind::WouldRefuse);
        return;
    }
    if (!pair.Decision.Install) {
        Report(TReportKind::WouldSkip, instanceFile, pair.Decision.Reason, installation.Dir,
               pair.Entry);
        return;
    }
    const std::string targetFile = TargetFile(installation.Dir, entry);
    if (InOnceAlready(entry, installed[pair.Entry])) {
        Report(TReportKind::WouldSkip, targetFile, kAlreadyInstalledText, installation.Dir,
               pair.Entry);
        return;
    }
    // The one failure that is certain before copying: nothing to copy.
    // It leaves the entry out, so the next installation fails it again.
    if (!platform_.FileExists(dirs_.WorkDir + entry.SourceName)) {
        fail(targetFile, "the package has no file \"" + entry.SourceName + "\"");
        return;
    }
    // All or nothing refuses what could only be replaced at a restart.
    if (const std::string obstacle = Atomic ? Obstacle(targetFile) : std::string();
        !obstacle.empty()) {
        fail(targetFile, obstacle);
        return;
    }
    installed[pair.Entry] = true;
    ++installed_;
    Report(TReportKind::WouldInstall, targetFile, {}, installation.Dir, pair.Entry);
}

}  // namespace oup
