// Writes the damaged-document corpus of the tests into a folder, one file per case, to try other
// readers on it (qpdf --show-npages, pdfinfo, a viewer) or to seed the fuzzer.

#include "DamagedCorpus.h"

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    pdffix::writeDamagedCases(argv[1], "", SIZE_MAX);
    return 0;
}
