// The printer layer over CUPS, the print spooler. The printer list and the
// default come from the spooler; a queue's driver description (its PPD) gives
// the paper sizes with their imageable areas, the resolution, the paper
// sources and the direction of landscape. A document is drawn into a PDF at
// the printer's resolution, page by page through a device context, and handed
// to the spooler as a job of its own when it ends: the job title is the CUPS
// job name, the DMPAPER paper becomes the job's media, the DMBIN tray its
// media-source (and the queue's InputSlot choice when the driver has one).
//
// The spooler is asked nothing until the layer is first used; without a
// spooler the layer has no printers and says why in LastError().
#pragma once

#include "engine/printer.h"

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quillard {

class TCupsPrinterLayer : public TPrinterLayer {
public:
    TCupsPrinterLayer();
    ~TCupsPrinterLayer() override;
    TCupsPrinterLayer(const TCupsPrinterLayer&) = delete;
    TCupsPrinterLayer& operator=(const TCupsPrinterLayer&) = delete;

    int Count() const override;
    std::vector<std::string> Printers() const override;
    int PrinterIndex() const override;
    void SetPrinterIndex(int Index) override;
    int DefaultIndex() const override;
    void Refresh() override;
    void FollowQueues() override;
    std::string LastError() const override;

    bool CanOrientation() const override;
    bool CanCopies() const override;
    int Orientation() const override;
    void SetOrientation(int Orientation) override;
    int Copies() const override;
    void SetCopies(int Copies) override;
    void SetMonochrome(bool Monochrome) override { FMonochrome = Monochrome; }
    void SetDialogOptions(std::vector<std::pair<std::string, std::string>> Options) override
    {
        FDialogOptions = std::move(Options);
    }
    bool HasHandle() const override;
    int GetDeviceCaps(int Index) const override;
    int PageWidth() const override;
    int PageHeight() const override;

    int16_t PaperSize() const override;
    void SetPaperSize(int16_t DmPaper) override;
    int16_t DefaultSource() const override;
    void SetDefaultSource(int16_t DmBin) override;
    std::string PaperProblem() const override;

    void BeginDoc() override;
    void NewPage() override;
    void EndDoc() override;
    void Abort() override;
    std::string JobNotice() const override { return FJobNotice; }
    bool Printing() const override;
    TDeviceContext* DeviceContext() override;

    // Index of a printer by name (exact, else ignoring letter case), -1 when
    // the spooler has no such printer.
    int IndexOf(const std::string& Name) const;
    // Job options to hand over as they are (lp's -o NAME=VALUE), after the
    // ones the report and the settings make: a name given twice, the last.
    void SetJobOptions(std::vector<std::pair<std::string, std::string>> Options) { FJobOptions = std::move(Options); }
    // The jobs handed to the spooler so far, each as QUEUE-ID, oldest first.
    const std::vector<std::string>& SubmittedJobs() const { return FSubmitted; }
    // Waits until Deadline (Seconds from the start of the waiting, for the
    // message) for the job (QUEUE-ID) to end. Empty when it was
    // printed; else what became of it ("was aborted (aborted-by-system:
    // Unable to open the file)", "waits: the printer is stopped", "did not
    // end within 5 seconds ..."): a job cancelled, aborted, stopped or held,
    // on a stopped printer, or still under way at the end, stays a failure.
    std::string WaitForJob(const std::string& Job, std::chrono::steady_clock::time_point Deadline, int Seconds) const;

    // The IPP media-source keyword of a DMBIN number; empty for numbers
    // without one.
    static std::string MediaSourceOf(int DmBin);

private:
    struct TMedia;
    struct TDescription;
    struct TPageSetup;
    struct TJob;

    void EnsureList() const;
    void LoadList() const;
    void Select(int Index) const;
    void LoadDescription() const;
    // The sheet, margins and resolution of the current settings; throws when
    // there is no printer or no description.
    TPageSetup CurrentSetup() const;
    const TDescription& Description() const;

    mutable bool FListed = false;
    mutable std::vector<std::string> FNames;
    mutable int FDefault = -1;
    mutable int FCurrent = -1;
    mutable std::string FError;
    mutable std::unique_ptr<TDescription> FDescription;
    mutable int16_t FDefaultPaper = DMPAPER_LETTER;  // the printer's own paper
    mutable int16_t FPaper = DMPAPER_LETTER;          // the device settings
    mutable int16_t FSource = 0;
    mutable int FOrientation = 0;
    mutable int FCopies = 1;
    bool FMonochrome = false;
    std::vector<std::pair<std::string, std::string>> FJobOptions;
    std::vector<std::pair<std::string, std::string>> FDialogOptions;

    std::unique_ptr<TJob> FJob;
    bool FPrinting = false;
    std::vector<std::string> FSubmitted;
    std::string FJobNotice;
    mutable std::set<std::string> FTrayTold;  // printer and tray, for PaperProblem
};

}  // namespace quillard
