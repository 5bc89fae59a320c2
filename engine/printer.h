// The printer as the engine sees it: the list of printers, the current one,
// its capabilities, device settings and metrics, and the print job. This base
// layer has no printers: it keeps the device settings the header writes, and
// the engine falls back to its assumed metrics. The spooler's layer
// (platform/cupsprinter.h) implements the same interface over CUPS.
#pragma once

#include <cstdint>
#include <utility>
#include <string>
#include <vector>

namespace quillard {

class TDeviceContext;

// Windows paper and paper-source numbers the device settings hold.
constexpr int16_t DMPAPER_LETTER = 1;
constexpr int16_t DMPAPER_USER = 256;

// Further GetDeviceCaps indexes a printer answers.
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int PHYSICALWIDTH = 110;
constexpr int PHYSICALHEIGHT = 111;

class TPrinterLayer {
public:
    virtual ~TPrinterLayer() = default;

    // ---- the printer list and the current printer ----------------------
    virtual int Count() const { return 0; }
    virtual std::vector<std::string> Printers() const { return {}; }
    // Index of the current printer in Printers(), -1 when there is none.
    virtual int PrinterIndex() const { return -1; }
    // Selects a printer; -1 selects the system's default printer. Selecting
    // the current printer again reloads its description.
    virtual void SetPrinterIndex(int Index) {}
    // Index of the system's default printer, -1 when there is none.
    virtual int DefaultIndex() const { return -1; }
    // Reads the printer list again.
    virtual void Refresh() {}
    // Reads the printer list again when the spooler's queues changed since
    // it was read (cheaper than Refresh when they did not).
    virtual void FollowQueues() { Refresh(); }
    // Why there are no printers, or what the last failure was.
    virtual std::string LastError() const { return {}; }

    // ---- capabilities and settings of the current printer ---------------
    virtual bool CanOrientation() const { return false; }
    virtual bool CanCopies() const { return false; }
    virtual int Orientation() const { return 0; }  // 0 portrait, 1 landscape
    virtual void SetOrientation(int Orientation) {}
    virtual int Copies() const { return 1; }
    virtual void SetCopies(int Copies) {}
    // The next job prints in shades of grey (the report's MONO=YES or the
    // Monochrome box), else in colour where the printer has it.
    virtual void SetMonochrome(bool Monochrome) {}
    // Job options the user chose in the print dialog for the current
    // printer (two-sided, pages per sheet, the driver's own options), each
    // NAME and VALUE; they go with every job over the report's, until
    // another printer is chosen.
    virtual void SetDialogOptions(std::vector<std::pair<std::string, std::string>> Options) { (void)Options; }
    // The printer's description could be loaded.
    virtual bool HasHandle() const { return false; }
    // Device capabilities: 88/90 dots per inch, 112/113 physical offsets,
    // 8/10 printable size and 110/111 sheet size in device pixels.
    virtual int GetDeviceCaps(int Index) const { return 0; }
    // Printable area in device pixels; throws when there is no printer.
    virtual int PageWidth() const;
    virtual int PageHeight() const;

    // ---- device settings written by the header scan and the print job ----
    virtual int16_t PaperSize() const { return FPaperSize; }           // DMPAPER number
    virtual void SetPaperSize(int16_t DmPaper) { FPaperSize = DmPaper; }
    virtual int16_t DefaultSource() const { return FDefaultSource; }   // DMBIN number, 0 = printer default
    virtual void SetDefaultSource(int16_t DmBin) { FDefaultSource = DmBin; }
    // Set when the current paper size cannot be had on the printer (the
    // printer's own default paper is measured and printed on instead), or
    // the first time a tray is asked of a printer that has nothing for it:
    // a text saying so, shown with the job. Empty when all is fine.
    virtual std::string PaperProblem() const { return {}; }

    // ---- the print job ---------------------------------------------------
    virtual std::string Title() const { return FTitle; }
    virtual void SetTitle(const std::string& Title) { FTitle = Title; }
    // Starts a document; throws when no document can be started.
    virtual void BeginDoc();
    // Starts the next page of the running document; throws on failure.
    virtual void NewPage() {}
    // Ends the document and hands it to the spooler; throws on failure (the
    // document is then dropped and printing has ended).
    virtual void EndDoc() {}
    // Drops the running document; nothing of it is printed.
    virtual void Abort() {}
    // What the user should know about the document EndDoc handed over last
    // although it went through (the printer is stopped, so nothing comes out
    // until it is started again); empty when there is nothing to say.
    virtual std::string JobNotice() const { return {}; }
    // A document is running (between BeginDoc and EndDoc or Abort).
    virtual bool Printing() const { return false; }
    // The device context of the running document, to draw its pages on; it
    // stays valid, no longer drawing, after EndDoc and Abort until the next
    // BeginDoc. Null before the first document.
    virtual TDeviceContext* DeviceContext() { return nullptr; }

protected:
    int16_t FPaperSize = DMPAPER_LETTER;
    int16_t FDefaultSource = 0;
    std::string FTitle;
};

// The printer layer in use (a layer without printers unless one is set).
TPrinterLayer& Printer();
// Installs a printer layer; the caller keeps ownership (nullptr restores the
// layer without printers).
void SetPrinterLayer(TPrinterLayer* Layer);

// Makes Bin (a DMBIN number) the current printer's default paper source.
void SetPaperSource(int16_t Bin);

}  // namespace quillard
