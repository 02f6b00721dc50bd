#include "support/FakeWizard.h"

#include "package/PackageWriter.h"
#include "support/PackageKit.h"

namespace oup::test {

TFakeWizard::TFakeWizard(std::vector<std::string> args) : Args(std::move(args)) {
    ApplyLayout(WireControls(*this));
    Log.clear();

    Machine.AddDrive('C');
    Machine.AddDir("C:\\TEMP");
    Machine.AddDir("C:\\WINDOWS\\SYSTEM32");
    InstallExecutable();
    Services.OnClose = [this] {
        if (update_) update_->FormClose();
    };
}

TFakeWizard::~TFakeWizard() = default;

void TFakeWizard::InstallExecutable(const std::vector<uint8_t>& appended) {
    Machine.ModuleHeaders = PeHeaders({{0x400, 0x200}});
    std::string image(Machine.ModuleHeaders.begin(), Machine.ModuleHeaders.end());
    image.resize(0x600, '\0');
    image.append(appended.begin(), appended.end());
    Machine.AddFile(Machine.ModuleFile, image);
}

TUpdate& TFakeWizard::Create() {
    update_ = std::make_unique<TUpdate>(Machine, Services, WireControls(*this),
                                       ParseCommandLine(Args));
    update_->FormCreate();
    return *update_;
}

std::vector<std::string> StandardLanguage() {
    std::vector<std::string> t;
    for (int i = 0; i < 27; ++i) t.push_back(std::to_string(i).insert(0, 1, 'T'));
    t[0] = "&Next >";
    t[1] = "< &Back";
    t[2] = "&Close";
    t[3] = "<programname> <version>";
    t[4] = "Update <programname> to <version>.";
    t[6] = "Tick the drives to search.";
    t[7] = "&Start";
    t[8] = "Folder:";
    t[10] = "Found <count> copies of <programname>.";
    t[11] = "Path";
    t[15] = "Done updating <programname>.";
    t[19] = "&Update";
    t[20] = "Updating <programname>...";
    t[21] = "Search finished";
    t[22] = "Drive";
    t[23] = "&Cancel";
    t[25] = "<-- Follow the instructions.";
    t[26] = "The update is finished.";
    return t;
}

std::vector<std::string> StandardScript() {
    return {"Ledger 3", "3.1.0", "Example Company", "ledger.exe", "30.12.1899", "28.02.2005",
            "true",
            // entries: source, target, mode, date, target dir
            "file0.dat", "ledger.exe", "Always copy", "28.02.2005 16:55:44", "<installdir>\\",
            "readme.txt", "readme.txt", "Update if present", "01.03.2005 10:00:00",
            "<installdir>\\"};
}

namespace {
std::string Join(const std::vector<std::string>& lines) {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\r\n" : "") + lines[i];
    return out;
}

void AddText(TPackageWriter& writer, const std::string& name, const std::string& text) {
    TMemoryStream content(std::vector<uint8_t>(text.begin(), text.end()));
    writer.AddEntry("d:\\pack\\" + name, TFakeMachine::kDefaultTime, content);
}
}  // namespace

void WritePackage(TFakeMachine& machine, const std::string& path, const TTestPackage& package) {
    machine.AddDir(ExcludeTrailingBackslash(ExtractFilePath(path)));
    TPackageWriter writer(machine, path);
    AddText(writer, "oupdate.inf", Join(package.Script));
    if (!package.NoNotes) AddText(writer, "oupdate.mem", package.Notes);
    if (!package.LanguageName.empty()) AddText(writer, package.LanguageName, Join(package.Language));
    for (const auto& [name, content] : package.Payload) AddText(writer, name, content);
    writer.Finish();
}

}  // namespace oup::test
