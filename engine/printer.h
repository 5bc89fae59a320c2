// The printer as the engine sees it: the list of printers, the current one,
// its capabilities, device settings and metrics. Until a spooler answers, the
// layer reports no printer and the engine falls back to its assumed metrics.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillard {

class TRenderingCanvas;

class TPrinterLayer {
public:
    virtual ~TPrinterLayer() = default;
    virtual int Count() const { return 0; }
    virtual std::vector<std::string> Printers() const { return {}; }
    virtual int PrinterIndex() const { return -1; }
    virtual void SetPrinterIndex(int Index) {}
    virtual bool CanOrientation() const { return false; }
    virtual bool CanCopies() const { return false; }
    virtual int Orientation() const { return 0; }          // 0 portrait, 1 landscape
    virtual void SetOrientation(int Orientation) {}
    virtual bool HasHandle() const { return false; }
    // Device capabilities: 88/90 dots per inch, 112/113 physical offsets.
    virtual int GetDeviceCaps(int Index) const { return 0; }
    // Printable area in device pixels; throws when there is no printer.
    virtual int PageWidth() const;
    virtual int PageHeight() const;
    virtual bool Printing() const { return false; }
    virtual void NewPage() {}
    // Device settings written by the header scan and the print job.
    virtual int16_t PaperSize() const { return 1; }
    virtual void SetPaperSize(int16_t DmPaper) {}
    virtual int16_t DefaultSource() const { return 0; }
    virtual void SetDefaultSource(int16_t DmBin) {}
};

// The printer layer in use (a layer without printers unless one is set).
TPrinterLayer& Printer();
// Installs a printer layer; the caller keeps ownership (nullptr restores the
// layer without printers).
void SetPrinterLayer(TPrinterLayer* Layer);

}  // namespace quillard
