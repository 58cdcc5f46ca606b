// Where a virtual register keeps its files under its directory: what
// fr-emu makes and what other programs (fr-bridge) read.
#ifndef FR_HOST_EMU_LAYOUT_H_
#define FR_HOST_EMU_LAYOUT_H_

namespace emu {

constexpr const char* kHostLinkFile = "/host";     // the POS line
constexpr const char* kPaperDirectory = "/paper";  // NNNN.txt, .html, .png per cut
constexpr const char* kPrinterStateFile = "/printer-state";
constexpr int kSheetDigits = 4;  // at least; "%04d"

}  // namespace emu

#endif  // FR_HOST_EMU_LAYOUT_H_
