#include "engine/printer.h"

#include <stdexcept>

namespace quillard {

namespace {
TPrinterLayer gNoPrinter;
TPrinterLayer* gPrinter = &gNoPrinter;
}  // namespace

int TPrinterLayer::PageWidth() const { throw std::runtime_error("There is no default printer currently selected"); }
int TPrinterLayer::PageHeight() const { throw std::runtime_error("There is no default printer currently selected"); }

TPrinterLayer& Printer() { return *gPrinter; }
void SetPrinterLayer(TPrinterLayer* Layer) { gPrinter = Layer ? Layer : &gNoPrinter; }

}  // namespace quillard
