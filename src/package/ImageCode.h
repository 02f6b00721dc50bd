// Whether an executable file holds the code that runs. A running image's
// file cannot be written, but it can be renamed away and another put at its
// path, which may copy the headers and differ in everything else; its code
// gives it away. The file's code sections, with its base relocations applied
// for the address the image was loaded at, must be byte for byte what the
// loader mapped. Every field of the file is bounds-checked: it is the one
// input here that someone else may have chosen.
#pragma once
#include <string>

#include "common/Stream.h"
#include "platform/Platform.h"

namespace oup {

enum class TCodeMatch {
    Same,       // the code that runs (or the running image has no code to compare)
    Different,  // other headers or other code
    Damaged,    // headers or relocations that no linker writes
};

struct TCodeComparison {
    TCodeMatch Match = TCodeMatch::Damaged;
    std::string Reason;  // why it is not the same, for a message ("its code differs ...")
};

// Compares the code sections of the executable file (read from offset 0)
// with the running image. The file's section table must be the running
// image's; its relocations come from the file and are applied to its code
// only (relocations into other sections are passed over), for
// image.Address minus the file's preferred base.
TCodeComparison CompareImageCode(TStream& file, const TMappedImage& image);

}  // namespace oup
