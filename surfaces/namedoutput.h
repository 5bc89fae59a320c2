// Writing a file the user named (a PDF, a page picture, a saved report): the
// bytes land in what the name denotes, never in something put in its place.
//
// The name's symbolic links are followed to the final target first (a link
// loop is an error; a dangling link makes the file it points to; a link in a
// sticky folder anybody may write, such as /tmp, is followed only when it is
// this user's or the folder owner's, else "Permission denied"). A regular
// file, or nothing yet, is written whole: a new file beside the final target
// (of a short name of its own, so that a name of any length can be written;
// with the old file's owner and permissions where the system allows, the
// default permissions for a new file), synced and renamed over it, so a
// failed write leaves an old file whole. A FIFO, a character device (a
// terminal) or a socket is opened and written in place, only once the whole
// output is there: what comes before goes to memory and then to a private
// spool file, so memory stays flat and a failed job writes nothing into the
// pipe. A folder or a block device is refused.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>

namespace quillard {

// Whether the name "-" stands for standard output in this process (the
// command line's --pdf and --png); elsewhere "-" is a file of that name.
void SetDashMeansStandardOutput(bool Value);
bool DashMeansStandardOutput();

// What a name for an output reaches.
struct TOutputTarget {
    enum class TKind {
        Missing,         // nothing there yet (the end of a dangling link included): made
        RegularFile,     // replaced whole
        Stream,          // a FIFO, a character device or a socket: written in place
        StandardOutput,  // "-" while it means standard output
    };
    TKind Kind = TKind::Missing;
    // The file to make or replace, its links followed; for a stream the name
    // as given (opening it follows the links).
    std::string Path;
    mode_t Mode = 0;  // kind and permissions of what is there
    uid_t Owner = 0;
    gid_t Group = 0;
};

// Follows Name to what it reaches. False with the reason in Reason (the
// system's words: "Too many levels of symbolic links", "Is a directory") when
// nothing can be written there.
bool ResolveOutputName(const std::string& Name, TOutputTarget& Target, std::string* Reason);

// Called about every 50 ms while the reader of a FIFO or socket is slow to
// take what is written, with how long it has taken nothing: the program
// lets its events run meanwhile. It returns false to stop the writing,
// which then fails with the reason the hook put in Reason ("The writing
// was stopped" when it put none). Without one the writing waits on the
// reader as long as it takes.
using TStreamWaitHook = std::function<bool(int StalledMs, std::string& Reason)>;
void SetStreamWaitHook(TStreamWaitHook Hook);
// A hook that gives no reason of its own.
void SetStreamWaitHook(std::function<bool(int StalledMs)> Hook);
void SetStreamWaitHook(std::nullptr_t);

// How long the writing waits for a program to open a FIFO for reading
// before it gives up saying so (5 seconds; tests make it shorter).
int FifoReaderWaitMs();
void SetFifoReaderWaitMs(int Ms);

// One output to a named file, written as it comes and put in place by Commit.
// Failures are kept, not thrown, until Commit: the first one stops the
// writing, and Error says what went wrong ("Cannot create file "NAME".
// REASON" or "Cannot write file "NAME". REASON").
class TNamedOutput {
public:
    explicit TNamedOutput(const std::string& Name);
    ~TNamedOutput();
    TNamedOutput(const TNamedOutput&) = delete;
    TNamedOutput& operator=(const TNamedOutput&) = delete;

    void Append(const char* Data, size_t Size);
    void Append(const std::string& Bytes) { Append(Bytes.data(), Bytes.size()); }

    // Puts the whole output in place. Throws std::runtime_error with Error()
    // when that fails; a file of the name is then as it was.
    void Commit();
    // Drops what was written: nothing reaches the target.
    void Discard();

    bool Failed() const { return !FError.empty(); }
    const std::string& Error() const { return FError; }
    // The reason alone, without the file name.
    const std::string& Reason() const { return FReason; }

private:
    void Open();
    void Flush();
    void CommitFile();
    void CommitStream();
    int OpenStream();
    void Fail(const char* What, const std::string& Reason);
    void Fail(const char* What, int Err);

    std::string FName;
    TOutputTarget FTarget;
    std::string FTempName;  // the name of the file beside the target while it has one
    int FDirFd = -1;        // the target's folder
    std::string FBuffer;
    std::string FError, FReason;
    std::string FStopReason;  // why the wait hook stopped the writing
    int FFd = -1;  // the new file beside the target, or the spool of a stream
};

// Writes Size bytes as the whole content of Name through TNamedOutput; false
// with the reason alone in Reason, when given.
bool WriteNamedOutput(const std::string& Name, const void* Data, size_t Size, std::string* Reason = nullptr);

}  // namespace quillard
