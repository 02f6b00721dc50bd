#include "app/CommandLine.h"

#include "common/Errors.h"
#include "common/Text.h"

namespace oup {

namespace {

struct TOption {
    const char* Name;   // after the slash, in upper case
    bool TakesValue;    // written /NAME=VALUE
    const char* Usage;  // as the usage line shows it; null: not shown
    // Stores the option; returns false when the value is of no use.
    bool (*Set)(TCommandLine& commandLine, const std::string& value);
};

// "/DIR=D:\Apps\;E:" -> "D:\Apps", "E:"; false when it names no directory.
bool SetDirs(TCommandLine& cl, const std::string& value) {
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(';', start);
        if (end == std::string::npos) end = value.size();
        std::string dir = value.substr(start, end - start);
        // A root is walked like a drive item: no trailing backslash.
        while (dir.size() > 1 && dir.back() == '\\') dir.pop_back();
        if (!dir.empty()) cl.Dirs.push_back(dir);
        start = end + 1;
    }
    return !cl.Dirs.empty();
}

// Every option of the updater, one row each.
const TOption kOptions[] = {
    {"S", false, "/S", [](TCommandLine& cl, const std::string&) { return cl.Silent = true; }},
    {"LOG", true, "/LOG=FILE",
     [](TCommandLine& cl, const std::string& v) { return !(cl.LogFile = v).empty(); }},
    {"DIR", true, "/DIR=DIR[;DIR...]", SetDirs},
    {"NORESTARTREPLACE", false, "/NORESTARTREPLACE",
     [](TCommandLine& cl, const std::string&) { return cl.NoRestartReplace = true; }},
    {"PREVIEW", false, "/PREVIEW",
     [](TCommandLine& cl, const std::string&) { return cl.Preview = true; }},
    {"ATOMIC", false, "/ATOMIC",
     [](TCommandLine& cl, const std::string&) { return cl.Atomic = true; }},
    {"REPORT", true, "/REPORT=FILE",
     [](TCommandLine& cl, const std::string& v) { return !(cl.ReportFile = v).empty(); }},
    {"?", false, nullptr, [](TCommandLine& cl, const std::string&) { return cl.ShowUsage = true; }},
};

const TOption* FindOption(const std::string& name) {
    const std::string upper = AsciiUpperCase(name);
    for (const TOption& option : kOptions)
        if (upper == option.Name) return &option;
    return nullptr;
}

// What is wrong with one option argument; empty when it was taken.
std::string TakeOption(TCommandLine& cl, const std::string& arg) {
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(1, equals == std::string::npos ? equals : equals - 1);
    const TOption* option = FindOption(name);
    if (!option) return FormatMessage("Unknown option \"%s\".", {arg});
    if (!option->TakesValue && equals != std::string::npos)
        return FormatMessage("The option \"%s\" takes no value.", {arg});
    if (option->TakesValue && equals == std::string::npos)
        return FormatMessage("The option \"%s\" needs a value: %s.", {arg, option->Usage});
    const std::string value = equals == std::string::npos ? std::string() : arg.substr(equals + 1);
    if (!option->Set(cl, value))
        return FormatMessage("The option \"%s\" needs a value: %s.", {arg, option->Usage});
    return std::string();
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine cl;
    if (!args.empty()) cl.ExePath = args[0];
    bool havePackage = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string error;
        if (a.empty()) {
            continue;  // names nothing
        } else if (a[0] == '/') {
            error = TakeOption(cl, a);
        } else if (havePackage) {
            // Most often the value of an option written with a blank, such as
            // "/DIR C:\x": never guess which of the two is the package.
            error = FormatMessage("A second package \"%s\" was given after \"%s\".",
                                  {a, cl.PackagePath});
        } else {
            cl.PackagePath = a;
            havePackage = true;
        }
        if (cl.UsageError.empty()) cl.UsageError = error;
    }
    return cl;
}

std::string UsageLine() {
    std::string line = "Usage: oupdate.exe [PACKAGE]";
    for (const TOption& option : kOptions)
        if (option.Usage) line += std::string(" [") + option.Usage + "]";
    return line;
}

}  // namespace oup
