// Writes a seed corpus for pdfcount_fuzz into the folder named on the command line.

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
    for (const auto& c : pdffix::countCases()) {
        const std::string bytes = c.make();
        // Large documents slow the fuzzer down without adding structure.
        if (bytes.size() < 64 * 1024)
            pdffix::writeFile(folder / (c.name + ".pdf"), bytes);
    }
    pdffix::writeDamagedCases(folder, "damaged-", 64 * 1024);
    return 0;
}
