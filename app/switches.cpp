#include "app/switches.h"

#include "engine/markup.h"

namespace quillard {

TStartSwitches ParseStartSwitches(const std::vector<std::string>& Params)
{
    TStartSwitches s;
    for (const std::string& p : Params) {
        if (p.size() < 2 || (p[0] != '-' && p[0] != '/'))
            continue;
        const std::string word = UpperCase(p.substr(1));
        if (word == "AUTOMATION" || word == "EMBEDDING")
            s.Automation = true;
        else if (word == "REGSERVER")
            s.RegServer = true;
        else if (word == "UNREGSERVER")
            s.UnregServer = true;
        else if (word == "NOREGSERVER")
            s.NoRegServer = true;
    }
    return s;
}

TSwitch ClassifyParameter(const std::string& Param)
{
    const std::string p = UpperCase(Param);
    if (p == "/DELETE" || p == "/DEL" || p == "/D" || p == "--DELETE")
        return TSwitch::Delete;
    if (p == "/REGSVR" || p == "/REG" || p == "/R")
        return TSwitch::Register;
    if (p == "/UNREGSVR" || p == "/UNREG" || p == "/U")
        return TSwitch::Unregister;
    if (p == "/PREVIEW" || p == "/VIEW" || p == "/V" || p == "--PREVIEW")
        return TSwitch::Preview;
    if (p == "/PRINT" || p == "/P" || p == "--PRINT")
        return TSwitch::Print;
    // The automation server layer's own switches are not report paths.
    if (p == "/AUTOMATION" || p == "/EMBEDDING" || p == "/REGSERVER" || p == "/UNREGSERVER" || p == "/NOREGSERVER")
        return TSwitch::Ignored;
    if (Param.empty() || Param[0] == '-')
        return TSwitch::Ignored;
    return TSwitch::ReportPath;
}

bool IsHttpAddress(const std::string& Name)
{
    return UpperCase(LeftStr(Name, 7)) == "HTTP://" || UpperCase(LeftStr(Name, 8)) == "HTTPS://";
}

}  // namespace quillard
