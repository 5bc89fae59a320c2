#include "engine/printer.h"

#include <stdexcept>

namespace quillard {

namespace {
TPrinterLayer gNoPrinter;
TPrinterLayer* gPrinter = &gNoPrinter;
const char* const NoDefaultPrinter = "There is no default printer currently selected";
}  // namespace

int TPrinterLayer::PageWidth() const { throw std::runtime_error(NoDefaultPrinter); }
int TPrinterLayer::PageHeight() const { throw std::runtime_error(NoDefaultPrinter); }
void TPrinterLayer::BeginDoc() { throw std::runtime_error(NoDefaultPrinter); }

TPrinterLayer& Printer() { return *gPrinter; }
void SetPrinterLayer(TPrinterLayer* Layer) { gPrinter = Layer ? Layer : &gNoPrinter; }

void SetPaperSource(int16_t Bin) { Printer().SetDefaultSource(Bin); }

}  // namespace quillard
