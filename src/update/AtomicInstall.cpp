// All or nothing per installation. A program whose new executable lies
// beside old libraries may not start at all, so with Atomic an installation
// gets every file that is due or none:
//   1. every entry is decided; a refusal, or a target that cannot be
//      replaced now (read-only, in use), stops the installation before
//      anything is copied;
//   2. every new file is copied into a temporary file beside its target
//      (deleted with its handle, as always): a failure drops them all;
//   3. each old file is kept as <name>.oupold (a hard link, or a copy where
//      the volume has none) and the new one takes its name in one step, so
//      a target is never missing; a failing swap undoes the swaps done, in
//      reverse order, from the kept old files;
//   4. then a mark in the installation folder says it is complete, the
//      kept old files go, and last the mark.
// A run killed in 3 leaves .oupold files; the next run puts them back
// before it decides anything (PutBack). One killed in 4 leaves them beside
// the mark: the installation is new, and the next run only removes them.
#include <algorithm>
#include <cstdio>

#include "common/Errors.h"
#include "update/EntryRules.h"
#include "update/UpdateRun.h"

namespace oup {

std::string KeptOldName(const std::string& name) { return name + ".oupold"; }

namespace {

// Beside the kept old files while they go: the installation is complete.
constexpr const char* kCompleteMark = "~oupdone";

// Makes the mark, whole and on the disk before any kept file goes.
bool MarkComplete(TDirectory& folder) {
    std::unique_ptr<THeldFile> mark;
    TOsResult made{kErrorFileExists};
    for (unsigned n = 0; n < 0x10000 && made.Error == kErrorFileExists; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "~oup%04X.tmp", n);
        made = folder.CreateTempFile(name, mark);
    }
    return made && mark->Flush() && mark->CommitAs(kCompleteMark);
}

}  // namespace

TDirectory* TUpdateRun::InstallationFolder(const std::string& installationDir) {
    TWritePlaces::TPlace place;
    std::string reason;
    if (!places_.Reach(installationDir, installationDir + "\\", place, reason, false))
        return nullptr;
    return place.Dir;
}

struct TUpdateRun::TPrepared {
    size_t Entry = 0;
    std::string TargetFile;  // as the reports name it
    TWritePlaces::TPlace Place;
    std::unique_ptr<THeldFile> Temp;
    bool HadOld = false;  // the target was there, and is kept as .oupold
};

std::string TUpdateRun::Obstacle(const std::string& target) {
    const uint32_t attr = platform_.GetAttributes(target);
    if (attr == kInvalidAttributes) return std::string();
    if (attr & faReadOnly) return "read-only: it cannot be replaced";
    if (platform_.FileInUse(target))
        return InUseReason(platform_.FileHolders(target), "it could only be replaced at a restart");
    return std::string();
}

bool TUpdateRun::PutBack(const std::string& installationDir) {
    bool any = false;
    TDirectory* home = InstallationFolder(installationDir);
    const bool complete = home && home->Entry(kCompleteMark).Kind == TEntryKind::File;
    for (size_t e = 0; e < entries_.size(); ++e) {
        const TFileEntry& entry = entries_[e];
        if (!IsPlainFileName(entry.TargetName)) continue;
        const std::string targetDir = ExpandTargetDir(entry.TargetDir, installationDir, dirs_);
        TWritePlaces::TPlace place;
        std::string reason;
        if (!IsAbsoluteTargetDir(targetDir) ||
            !places_.Reach(installationDir, targetDir, place, reason, false))
            continue;
        const std::string kept = KeptOldName(entry.TargetName);
        if (place.Dir->Entry(kept).Kind != TEntryKind::File) continue;
        const std::string target = ExcludeTrailingBackslash(targetDir) + "\\" + entry.TargetName;
        if (complete) {
            // Every file of that run was in: its old versions only go.
            if (place.Dir->DeleteEntry(kept))
                Report(TReportKind::KeptRemoved, KeptOldName(target), {}, installationDir, e);
            continue;
        }
        if (place.Dir->RenameEntry(kept, entry.TargetName)) {
            // Killed between keeping the old file and the swap, both names are
            // one file, and a rename of one over the other changes nothing
            // on some systems (POSIX, Wine): the kept name goes by itself.
            if (place.Dir->Entry(kept).Kind != TEntryKind::Missing) place.Dir->DeleteEntry(kept);
            any = true;
            Report(TReportKind::PutBack, target, {}, installationDir, e);
        }
    }
    if (complete) home->DeleteEntry(kCompleteMark);
    return any;
}

bool TUpdateRun::Prepare(TPrepared& file, std::string& reason) {
    const TFileEntry& entry = entries_[file.Entry];
    TDirectory& dir = *file.Place.Dir;
    for (unsigned n = 0; n < 0x10000 && !file.Temp; ++n) {
        char tempName[16];
        std::snprintf(tempName, sizeof tempName, "~oup%04X.tmp", n);
        const TOsResult created = dir.CreateTempFile(tempName, file.Temp);
        if (!created && created.Error != kErrorFileExists) break;
    }
    if (!file.Temp) return false;
    if (!IsAtOrBelow(platform_, file.Temp->FinalPath(), file.Place.BaseFinalPath)) {
        reason = kThroughALinkText;
        return false;
    }
    try {
        const std::string source = dirs_.WorkDir + entry.SourceName;
        const std::unique_ptr<TFileStream> in = platform_.OpenFile(source, TOpenMode::ReadShared);
        std::vector<char> buffer(65536);
        for (size_t n; (n = in->Read(buffer.data(), buffer.size())) > 0;)
            file.Temp->WriteBuffer(buffer.data(), n);
        int32_t dos = DateTimeToDos(entry.FileDate);
        if (dos == 0) dos = platform_.FileAge(source);
        if (dos > 0 || dos < -1) file.Temp->SetLastWriteDos(dos);
    } catch (const Exception& e) {
        reason = e.what();
        return false;
    }
    if (!file.Temp->Flush()) return false;
    return true;
}

bool TUpdateRun::Swap(TPrepared& file, std::string& reason) {
    TDirectory& dir = *file.Place.Dir;
    const std::string& name = entries_[file.Entry].TargetName;
    const std::string kept = KeptOldName(name);
    // A second entry for the same target finds the old version kept by the
    // first: that one stays, and undoing in reverse order brings it back.
    if (dir.Entry(name).Kind == TEntryKind::File && dir.Entry(kept).Kind == TEntryKind::Missing) {
        // The old file keeps a name of its own until the installation is
        // complete: a second name where the volume allows, a copy otherwise.
        if (!dir.LinkEntry(name, kept) && !dir.CopyEntry(name, kept)) {
            reason = "its old version could not be kept";
            return false;
        }
        file.HadOld = true;
    }
    if (const TOsResult swapped = file.Temp->CommitAs(name); !swapped) {
        if (file.HadOld) dir.DeleteEntry(kept);
        file.HadOld = false;
        const std::string target = file.Place.FinalPath + "\\" + name;
        reason = platform_.FileInUse(target)
                     ? InUseReason(platform_.FileHolders(target))
                     : "it could not be replaced (error " + std::to_string(swapped.Error) + ")";
        return false;
    }
    // The temporary name goes now: while its handle stays open, it holds the
    // new file against a later entry for the same target and against the undo.
    file.Temp.reset();
    return true;
}

void TUpdateRun::Undo(std::vector<TPrepared>& files, size_t swapped) {
    // Latest first: each file goes back to what was there before.
    for (size_t i = swapped; i-- > 0;) {
        TPrepared& file = files[i];
        const std::string& name = entries_[file.Entry].TargetName;
        if (file.HadOld)
            file.Place.Dir->RenameEntry(KeptOldName(name), name);
        else
            file.Place.Dir->DeleteEntry(name);
    }
}

void TUpdateRun::InstallAtomically(size_t first, size_t count) {
    const std::string& dir = installations_[plan_[first].Installation].Dir;
    std::vector<TPrepared> files;
    std::vector<std::string> madeFolders;
    std::string stop;  // the first file that stops the installation, and why
    // 1. Every pair is decided before anything is copied.
    for (size_t i = first; i < first + count && stop.empty(); ++i) {
        const TPair& pair = plan_[i];
        TFileEntry& entry = entries_[pair.Entry];
        const std::string instanceFile = dir + "\\" + entry.TargetName;
        Report(TReportKind::Visiting, instanceFile, {}, dir, pair.Entry);
        if (pair.Decision.Fail) {
            stop = pair.Decision.Target + ": " + pair.Decision.Reason;
            break;
        }
        if (!pair.Decision.Install) {
            Report(TReportKind::Skipped, instanceFile, pair.Decision.Reason, dir, pair.Entry);
            continue;
        }
        const std::string targetDir = ExpandTargetDir(entry.TargetDir, dir, dirs_);
        TPrepared file;
        file.Entry = pair.Entry;
        file.TargetFile = ExcludeTrailingBackslash(targetDir) + "\\" + entry.TargetName;
        if (entry.Installed && NamesSystemDirectory(entry.TargetDir)) {
            Report(TReportKind::Skipped, file.TargetFile, kAlreadyInstalledText, dir, pair.Entry);
            continue;
        }
        std::string reason;
        if (!places_.Reach(dir, targetDir, file.Place, reason, true, &madeFolders)) {
            stop = file.TargetFile + ": " + reason;
            break;
        }
        if (const std::string obstacle = Obstacle(file.Place.FinalPath + "\\" + entry.TargetName);
            !obstacle.empty()) {
            stop = file.TargetFile + ": " + obstacle;
            break;
        }
        files.push_back(std::move(file));
    }
    // 2. Every new file beside its target.
    for (TPrepared& file : files) {
        if (!stop.empty()) break;
        std::string reason;
        if (!Prepare(file, reason))
            stop = file.TargetFile + ": " + (reason.empty() ? "it could not be copied" : reason);
    }
    // 3. The swaps, undone together when one fails.
    size_t swapped = 0;
    while (stop.empty() && swapped < files.size()) {
        std::string reason;
        if (!Swap(files[swapped], reason)) {
            stop = files[swapped].TargetFile + ": " + reason;
            Undo(files, swapped);
            break;
        }
        ++swapped;
    }
    if (!stop.empty()) {
        // The temporary files go with their handles; folders made for the
        // new files go too, the deepest first.
        files.clear();
        for (size_t i = madeFolders.size(); i-- > 0;) platform_.RemoveDir(madeFolders[i]);
        // Every file that was due failed with it.
        int due = 0;
        for (size_t i = first; i < first + count; ++i)
            due += plan_[i].Decision.Install || plan_[i].Decision.Fail;
        failed_ += std::max(1, due);
        Report(TReportKind::LeftUnchanged, {}, stop, dir, 0);
        return;
    }
    // 4. Complete: the mark says so, then the old versions go, then the mark.
    // Without a mark (it could not be made) a kill here would have the next
    // run put old versions back into a complete installation.
    TDirectory* home = InstallationFolder(dir);
    const bool marked = home && MarkComplete(*home);
    for (TPrepared& file : files) {
        TFileEntry& entry = entries_[file.Entry];
        if (file.HadOld) file.Place.Dir->DeleteEntry(KeptOldName(entry.TargetName));
        entry.Installed = true;
        ++installed_;
        Report(TReportKind::Installed, file.TargetFile, {}, dir, file.Entry);
    }
    if (marked) home->DeleteEntry(kCompleteMark);
}

}  // namespace oup
