// Writes the damaged-document corpus of the tests into a folder, one file per case, to try other
// readers on it (qpdf --show-npages, pdfinfo, a viewer) or to seed the fuzzer.

#include "DamagedCorpus.h"
#include "PdfCases.h"
#include "PdfFixtures.h"

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    for (const auto& c : pdffix::damagedCases())
        pdffix::writeFile(folder / (c.name + ".pdf"), c.make());
    return 0;
}
