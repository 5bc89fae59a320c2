#include "app/autoserver.h"

namespace quillard {

bool TAutomationServerLayer::Register(std::string& Error)
{
    Error = "This build of Quillard has no automation server to register.";
    return false;
}

bool TAutomationServerLayer::Unregister(std::string& Error)
{
    Error = "This build of Quillard has no automation server to unregister.";
    return false;
}

}  // namespace quillard
