// The counter's library and its helper across searches, with nothing else holding the library:
// each search creates, counts, releases and calls CoFreeUnusedLibraries, and the next search
// finds the same helper. Once idle longer than the idle life, the library unloads and its helper
// ends.

#include "ComRegistry.h"
#include "ComRuntime.h"
#include "IPDFPageCounter.h"
#include "PdfFixtures.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

bool libraryLoaded()
{
    void* handle = ::dlopen(PDFCOUNTER_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        ::dlclose(handle);
    return handle != nullptr;
}

// One folder of a search: create, count one file, release, free unused libraries.
LONG searchOneFolder(const std::string& path)
{
    IPDFPageCounter* counter = nullptr;
    if (FAILED(CoCreateInstance(CLSID_CPDFPageCounter, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IPDFPageCounter, reinterpret_cast<void**>(&counter))))
        return -100;
    BSTR name = comrt::AllocBstrFromUtf8(path);
    LONG pages = -100;
    if (FAILED(counter->GetPages(name, &pages)))
        pages = -100;
    SysFreeString(name);
    counter->Release();
    CoFreeUnusedLibraries();
    return pages;
}

TEST(PdfHelperLifetime, SearchesShareOneHelperUntilTheLibraryIsIdleLongEnough)
{
    pdffix::TempDir dir;
    comrt::SetRegistryStorePath((dir.path() / "test.reg").string());
    {
        comrt::ServerLibrary library;
        ASSERT_EQ(library.open(PDFCOUNTER_LIBRARY), S_OK) << library.error();
        ASSERT_EQ(library.registerServer(), S_OK);
    }
    ASSERT_FALSE(libraryLoaded());
    pdffix::writeFile(dir.file("a.pdf"), pdffix::qpdfDocument(2));
    const auto log = dir.file("starts.log");
    setenv("QW_PDFCOUNTER_HELPER_LOG", log.c_str(), 1);

    EXPECT_EQ(searchOneFolder(dir.file("a.pdf").string()), 2);
    EXPECT_TRUE(libraryLoaded()) << "unloaded at the end of the first search";
    EXPECT_EQ(searchOneFolder(dir.file("a.pdf").string()), 2);
    EXPECT_EQ(pdffix::linesIn(log), 1) << "helpers started by two searches";

    setenv("QW_PDFCOUNTER_IDLE_MS", "0", 1);
    CoFreeUnusedLibraries();
    EXPECT_FALSE(libraryLoaded()) << "kept although idle longer than its idle life";
    unsetenv("QW_PDFCOUNTER_IDLE_MS");
    EXPECT_EQ(searchOneFolder(dir.file("a.pdf").string()), 2) << "loads again on demand";
    EXPECT_EQ(pdffix::linesIn(log), 2);

    unsetenv("QW_PDFCOUNTER_HELPER_LOG");
    setenv("QW_PDFCOUNTER_IDLE_MS", "0", 1);
    CoFreeUnusedLibraries();
    unsetenv("QW_PDFCOUNTER_IDLE_MS");
    comrt::SetRegistryStorePath("");
}

}  // namespace
