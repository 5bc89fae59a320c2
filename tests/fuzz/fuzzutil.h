// Shared pieces of the fuzz targets: a Qt application on the offscreen
// platform (fonts and raster painting need one), engine services that swallow
// every message, and report bytes written to a scratch file.
#pragma once

#include "engine/globals.h"
#include "engine/services.h"
#include "surfaces/fontlist.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace quillard::fuzz {

// Messages are the engine's answer to bad input, not a failure: count them
// and go on.
class TQuietServices : public IUserServices {
public:
    long Messages = 0;
    TMsgResult MessageBox(const std::string&, const std::string&, TMsgButtons) override
    {
        ++Messages;
        return TMsgResult::OK;
    }
    void ProcessMessages() override {}
    void Beep() override {}
};

inline TQuietServices& QuietServices()
{
    static TQuietServices services;
    return services;
}

// Called from LLVMFuzzerInitialize: the application lives until the process
// ends, as the fuzzer never returns to main.
inline void StartQt()
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "quillard-fuzz";
    static char* argv[] = {name, nullptr};
    static auto* app = new QGuiApplication(argc, argv);
    (void)app;
    InstallFontSubstitutions();
    Globals().PrinterWarningShown = true;
    SetUserServices(&QuietServices());
}

// One scratch file per process, rewritten for every input.
inline const std::string& ScratchPath()
{
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string p = std::string(dir && *dir ? dir : "/tmp") + "/quillard-fuzz-" + std::to_string(::getpid()) + ".txt";
        std::atexit([] { std::remove(ScratchPath().c_str()); });
        return p;
    }();
    return path;
}

inline const std::string& WriteScratch(const uint8_t* Data, size_t Size)
{
    const std::string& path = ScratchPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (Size && std::fwrite(Data, 1, Size, f) != Size)
        std::abort();
    std::fclose(f);
    return path;
}

// Removes the scratch file once an input is done with it: processes that
// end without running the exit handlers (libFuzzer's merge runs, a crash)
// would otherwise leave it behind.
inline void RemoveScratch() { std::remove(ScratchPath().c_str()); }

}  // namespace quillard::fuzz
