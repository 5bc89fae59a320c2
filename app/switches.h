// The command-line switches of the windowed program.
#pragma once

#include <string>
#include <vector>

namespace quillard {

// Start switches of the automation server layer, found anywhere on the
// command line as "-WORD" or "/WORD" in any letter case.
struct TStartSwitches {
    bool Automation = false;   // "AUTOMATION" or "EMBEDDING": started by a client
    bool RegServer = false;    // "REGSERVER"
    bool UnregServer = false;  // "UNREGSERVER"
    bool NoRegServer = false;  // "NOREGSERVER"
};
TStartSwitches ParseStartSwitches(const std::vector<std::string>& Params);

// What one parameter means to the main window.
enum class TSwitch {
    Delete,      // "/DELETE", "/DEL", "/D", "--delete"
    Register,    // "/REGSVR", "/REG", "/R"
    Unregister,  // "/UNREGSVR", "/UNREG", "/U"
    Preview,     // "/PREVIEW", "/VIEW", "/V", "--preview"
    Print,       // "/PRINT", "/P", "--print"
    ReportPath,  // the report: any other parameter not starting with "-"
    Ignored      // any other parameter starting with "-"
};
// Listed switches are compared whole after upper-casing. Since "/" starts
// every absolute path here, a parameter starting with "/" that is not a
// listed switch is a report path.
TSwitch ClassifyParameter(const std::string& Param);

// Whether a name is a web address ("HTTP://" or "HTTPS://" in any letter
// case).
bool IsHttpAddress(const std::string& Name);

}  // namespace quillard
