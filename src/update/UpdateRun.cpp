// The update run: every file entry of the script into every ticked
// installation, each under the rule of its mode.
#include <algorithm>
#include <cstdio>

#include "app/Update.h"
#include "common/Errors.h"

namespace oup {

namespace {

bool NamesSystemDirectory(const std::string& targetDir) {
    return targetDir.find(kMacroWinDir) != std::string::npos ||
           targetDir.find(kMacroWinSysDir) != std::string::npos;
}

// The target directory of an entry for one installation, macros expanded in
// their fixed order, still with any trailing backslash.
std::string ExpandTargetDir(const std::string& targetDir, const std::string& instanceDir,
                            const std::string& windowsDir, const std::string& systemDir) {
    std::string dir = TUpdate::ReplaceMacro(targetDir, kMacroInstallDir, instanceDir);
    dir = TUpdate::ReplaceMacro(dir, kMacroWinDir, windowsDir);
    return TUpdate::ReplaceMacro(dir, kMacroWinSysDir, systemDir);
}

std::string TargetFileOf(std::string dir, const std::string& targetName) {
    if (!dir.empty() && dir.back() == '\\') dir.pop_back();
    return dir + "\\" + targetName;
}

// DOS date-times order as unsigned numbers: years from 2044 on set the top bit.
bool EarlierDos(int32_t a, int32_t b) { return static_cast<uint32_t>(a) < static_cast<uint32_t>(b); }

}  // namespace

std::string TUpdate::ReplaceMacro(const std::string& text, const std::string& macro,
                                  const std::string& value) {
    const size_t at = text.find(macro);
    if (at == std::string::npos) return text;
    return Trim(text.substr(0, at) + value + text.substr(at + macro.size()));
}

void TUpdate::StampFileDate(const std::string& path, TDateTime dateTime) {
    std::unique_ptr<TFileStream> file;
    try {
        file = Platform.OpenFile(path, TOpenMode::WriteShared);
    } catch (const Exception&) {
        return;  // the file keeps the time the copy gave it
    }
    // Years outside 1980..2107 pack to 0, which names no time: leave it.
    const int32_t dos = DateTimeToDos(dateTime);
    if (dos != 0) file->SetLastWriteDos(dos);
}

bool TUpdate::ModeAllowsInstall(const TFileEntry& entry, const std::string& instanceFile,
                                std::string& reason) {
    const std::string& mode = entry.Mode;
    if (mode == kModeAlwaysUpdate || mode == kModeAlwaysCopy) return true;
    if (mode == kModeUpdateIfPresent) {
        if (Platform.FileExists(instanceFile)) return true;
        reason = "missing (\"" + mode + "\")";
        return false;
    }
    if (mode == kModeUpdateIfOlder) {
        // A directory of the file's name counts as missing.
        if (!Platform.FileExists(instanceFile)) return true;
        const int32_t installed = Platform.FileAge(instanceFile);
        const int32_t packaged = Platform.FileAge(WorkDir + entry.SourceName);
        if (packaged == -1) {
            reason = "the package copy is missing (\"" + mode + "\")";
            return false;
        }
        if (installed != -1 && EarlierDos(installed, packaged)) return true;
        reason = "not older than the package copy (\"" + mode + "\")";
        return false;
    }
    reason = "unknown mode \"" + mode + "\"";
    return false;
}

bool TUpdate::CopyIntoPlace(const std::string& source, const std::string& target) {
    // The new file is made complete beside the old one first and then put in
    // its place in one step, so a copy that breaks off (a full disk, a
    // vanished source) never leaves a half-written program behind.
    const std::string dir = ExtractFilePath(target);
    std::string temp;
    for (unsigned n = 0; n < 0x10000 && temp.empty(); ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "~oup%04X.tmp", n);
        if (Platform.GetAttributes(dir + name) == kInvalidAttributes) temp = dir + name;
    }
    if (temp.empty()) return false;
    if (!Platform.CopyFile(source, temp, true)) {
        Platform.DeleteFile(temp);
        return false;
    }
    if (!Platform.MoveFileReplace(temp, target)) {
        Platform.DeleteFile(temp);
        return false;
    }
    return true;
}

void TUpdate::InstallEntry(int instanceIndex, int entryIndex) {
    TFileEntry& entry = Script.FileEntries.at(static_cast<size_t>(entryIndex));
    const std::string instanceDir = Controls.Liste->ItemCaption(instanceIndex);
    std::string targetDir =
        ExpandTargetDir(entry.TargetDir, instanceDir, WindowsDir, SystemDir);

    // The Windows and system directories are shared by every installation:
    // such an entry goes in once, at the first installation where it works.
    if (entry.Installed && NamesSystemDirectory(entry.TargetDir)) {
        Log("Skipped " + TargetFileOf(targetDir, entry.TargetName) +
            ": already installed into the Windows or system directory");
        return;
    }

    if (!Platform.DirectoryExists(targetDir)) {
        try {
            Platform.ForceDirectories(targetDir);
        } catch (const Exception&) {
            // A directory that cannot be made fails the copy just below.
        }
    }
    const std::string targetFile = TargetFileOf(targetDir, entry.TargetName);
    bool done = false;
    try {
        if (CopyIntoPlace(WorkDir + entry.SourceName, targetFile)) {
            StampFileDate(targetFile, entry.FileDate);
            entry.Installed = true;
            done = true;
        }
    } catch (const Exception&) {
        done = false;
    }
    if (done) {
        ++filesInstalled_;
        Log("Installed " + targetFile);
    } else {
        ++filesFailed_;
        const std::string line = kFailureLinePrefix + targetFile;
        Controls.Memo1->AppendLine(line);
        Log(line);
    }
}

void TUpdate::RunUpdate() {
    TWizardControls& c = Controls;
    // A close asked for meanwhile waits for the run's end (see CloseQuery).
    struct TUpdating {
        TUpdate& form;
        explicit TUpdating(TUpdate& f) : form(f) { form.updating_ = true; }
        ~TUpdating() {
            form.updating_ = false;
            if (!form.closePending_) return;
            form.closePending_ = false;
            try {
                form.Services.Close();
            } catch (...) {
                // Closing ignores its own failures; none may leave here.
            }
        }
    } updating(*this);

    c.Animate1->SetClip(TCommonAVI::aviCopyFiles);
    c.Animate1->SetVisible(true);
    c.Animate1->Play();
    c.Memo1->SetCaption("");

    auto& entries = Script.FileEntries;
    const int instances = c.Liste->Count();
    const auto entryCount = static_cast<int>(entries.size());

    // Files due, for the progress display: what the modes allow now, with a
    // Windows or system directory entry counted once.
    int due = 0, chosen = 0;
    std::vector<bool> countedOnce(entries.size(), false);
    for (int i = 0; i < instances; ++i) {
        if (!c.Liste->ItemChecked(i)) continue;
        ++chosen;
        const std::string instanceDir = c.Liste->ItemCaption(i);
        for (int e = 0; e < entryCount; ++e) {
            std::string reason;
            if (!ModeAllowsInstall(entries[e], instanceDir + "\\" + entries[e].TargetName, reason))
                continue;
            if (NamesSystemDirectory(entries[e].TargetDir)) {
                if (countedOnce[e] || entries[e].Installed) continue;
                countedOnce[e] = true;
            }
            ++due;
        }
    }
    Log("Updating " + std::to_string(chosen) + " installation(s), " + std::to_string(due) +
        " file(s) due");

    filesInstalled_ = filesFailed_ = 0;
    c.FileLabel2->SetVisible(true);
    c.Progress->SetProgress(0, due);
    c.Progress->SetVisible(true);
    Services.ProcessPaintMessages();

    for (int i = 0; i < instances; ++i) {
        const bool ticked = c.Liste->ItemChecked(i);
        const std::string instanceDir = c.Liste->ItemCaption(i);
        for (int e = 0; e < entryCount; ++e) {
            const std::string instanceFile = instanceDir + "\\" + entries[e].TargetName;
            if (!ticked) {
                Log("Skipped " + instanceFile + ": installation not chosen");
                continue;
            }
            c.FileLabel2->Label().SetFileName(instanceFile);
            c.FileLabel2->Repaint();
            std::string reason;
            if (ModeAllowsInstall(entries[e], instanceFile, reason)) {
                InstallEntry(i, e);
                // A failed once-only entry is tried again: the total grows.
                const int done = filesInstalled_ + filesFailed_;
                c.Progress->SetProgress(done, std::max(done, due));
            } else {
                Log("Skipped " + instanceFile + ": " + reason);
            }
            Services.ProcessPaintMessages();
        }
    }

    c.Animate1->Stop();
    c.Animate1->SetVisible(false);
    c.FileLabel2->SetVisible(false);
    c.Progress->SetVisible(false);
    exitCode_ = filesFailed_ == 0 ? ecSuccess : ecFailures;
    Log("Update finished: " + std::to_string(filesInstalled_) + " installed, " +
        std::to_string(filesFailed_) + " failed");

    ++Page;
    ShowPage();
    c.Label1->SetCaption(Text(ltFinished));
    c.Label1->SetVisible(true);
    c.Button2->SetLeft(c.StartKnapp->Left());
}

}  // namespace oup
