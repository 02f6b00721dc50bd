#include "app/CommandLine.h"

#include "platform/Platform.h"

namespace oup {

namespace {
// "/LOG=x" -> true and "x" when the option's name matches, ignoring case.
bool OptionValue(const std::string& arg, const char* name, std::string& value) {
    const std::string prefix = std::string("/") + name + "=";
    if (arg.size() < prefix.size() || AsciiUpperCase(arg.substr(0, prefix.size())) != prefix)
        return false;
    value = arg.substr(prefix.size());
    return true;
}
}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine cl;
    if (!args.empty()) cl.ExePath = args[0];
    bool havePackage = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        if (a.empty() || a[0] != '/') {
            if (!havePackage) cl.PackagePath = a;
            havePackage = true;
        } else if (AsciiUpperCase(a) == "/S") {
            cl.Silent = true;
        } else if (AsciiUpperCase(a) == "/NORESTARTREPLACE") {
            cl.NoRestartReplace = true;
        } else if (OptionValue(a, "LOG", value)) {
            cl.LogFile = value;
        } else if (OptionValue(a, "DIR", value)) {
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
        } else {
            cl.Unknown.push_back(a);
        }
    }
    return cl;
}

}  // namespace oup
