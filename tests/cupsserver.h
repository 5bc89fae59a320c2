// A private CUPS spooler for the print tests: cupsd run from its own
// configuration in a scratch folder, listening on a local socket only, with
// browsing off, file: queues allowed and nothing of the system's printing
// configuration touched. The test process (and every program it starts) talks
// to it through CUPS_SERVER. Queues write what they print into files in the
// scratch folder, and the spooler keeps every job's document and attributes
// for the tests to read back.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quillard::test {

class TCupsServer {
public:
    ~TCupsServer();

    // Starts cupsd (once); false with Error() saying why.
    bool Start();
    void Stop();
    bool Running() const { return FPid > 0; }
    const std::string& Error() const { return FError; }
    const std::string& Socket() const { return FSocket; }
    const std::string& Dir() const { return FDir; }

    // Before Start: a filter of our own beside the system's (the spooler
    // gets a ServerBin of its own, the system's programs linked in and
    // Program copied into its filter folder), and a file of its ServerRoot
    // (MIME types and conversions).
    void AddFilter(const std::string& Program);
    void AddConfFile(const std::string& Name, const std::string& Text);

    // Removes every queue and every job.
    void Reset();
    // Adds an enabled queue printing into OutputFile(Name) with the driver
    // description Ppd (a PPD file; empty: a queue without a driver).
    bool AddQueue(const std::string& Name, const std::string& Ppd);
    // The same with more arguments for lpadmin after the others ("-v", a
    // device; "-o", "printer-error-policy=abort-job").
    bool AddQueue(const std::string& Name, const std::string& Ppd, const std::vector<std::string>& More);
    // Stops a queue: it takes jobs and keeps them (cupsdisable).
    bool Disable(const std::string& Name);
    bool SetDefault(const std::string& Name);
    bool Reject(const std::string& Name);
    bool Delete(const std::string& Name);
    std::string OutputFile(const std::string& Queue) const;

    struct TJob {
        int Id = 0;
        std::string Name;
        std::string Queue;
        int State = 0;  // IPP job-state: 3 pending ... 7 canceled, 9 completed
    };
    std::vector<TJob> Jobs() const;  // every job the spooler remembers, by id
    // Every attribute of a job, each value as text ("landscape", "4", ...).
    std::map<std::string, std::vector<std::string>> JobAttributes(int Id) const;
    // Waits until no job is pending or processing; false after the timeout.
    bool WaitUntilIdle(int Seconds = 60) const;
    // The document of a job as the spooler received it.
    std::string SpooledDocument(int Id) const;

    // The last lines of cupsd's error log, for failure messages.
    std::string Log() const;

private:
    bool Admin(const std::vector<std::string>& Args);
    std::string FDir, FSocket, FError;
    std::vector<std::string> FFilters;
    std::vector<std::pair<std::string, std::string>> FConfFiles;
    bool MakeServerBin(std::string& Line);
    int FPid = -1;
};

// The spooler shared by all print tests of this process (started on first use,
// stopped at exit).
TCupsServer& SharedCups();

// The Generic PDF driver description of cups-filters, or empty.
std::string GenericPdfPpd();
// Writes a driver description derived from the Generic PDF one with Edits
// applied: each pair replaces the whole line starting with its first text by
// the second (appended when no line starts so). Returns its path.
std::string WritePpd(const std::string& Path, const std::vector<std::pair<std::string, std::string>>& Edits);

// Runs a program, returns its standard output (and exit code through Code).
std::string RunProgram(const std::string& Program, const std::vector<std::string>& Args, int* Code = nullptr,
                       std::string* Err = nullptr);
// Bytes of a file, empty when unreadable.
std::string ReadFile(const std::string& Path);

// Reading printed PDFs back with poppler-utils.
struct TPdfWord {
    double XMin = 0, YMin = 0, XMax = 0, YMax = 0;
    std::string Text;
    int Page = 0;
};
std::vector<TPdfWord> PdfWords(const std::string& Path);
std::map<std::string, std::string> PdfInfo(const std::string& Path);
std::vector<std::string> PdfPageTexts(const std::string& Path);

}  // namespace quillard::test
