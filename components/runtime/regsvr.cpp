// regsvr: registers a component library in the registration store, or removes its records.
//
//   regsvr [-u] <library> [store]
//   regsvr --help | --version
//
// Without a store the store beside this program is used (the program folder's quirewell.reg).
// Exit status: 0 done, 1 failed or (with -u) nothing to remove, 2 wrong arguments. Every failure
// names the library or store and the reason in words, and leaves the store as it was.
#include "ComRegistry.h"
#include "ComRuntime.h"
#include "FileAccess.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

// Asked for (--help): on standard output, status 0; after wrong arguments: standard error, 2.
int Usage(bool asked = false)
{
    std::fprintf(asked ? stdout : stderr,
                 "usage: regsvr [-u] <library> [store]\n"
                 "  registers the component library in the store (default: %s);\n"
                 "  -u removes its records instead\n"
                 "  -h, --help     show this help\n"
                 "  -V, --version  show the version\n"
                 "Exit status: 0 done, 1 failed (the store is left as it was) or -u found nothing\n"
                 "to remove, 2 wrong arguments.\n",
                 comrt::RegistryStorePath().c_str());
    return asked ? 0 : 2;
}

// The store's bytes, to tell whether an unregistration removed anything. Read as the runtime
// reads it: never a FIFO or device, never a store others could rewrite.
bool Snapshot(const std::string& store, std::string* bytes, std::string* reason)
{
    bytes->clear();
    const comrt::CheckedFile file(store);
    switch (file.outcome()) {
    case comrt::CheckedFile::Outcome::Missing:
        return true;
    case comrt::CheckedFile::Outcome::Open:
        return comrt::ReadCheckedFile(file, 64u << 20, bytes, reason) == comrt::ReadResult::Ok;
    case comrt::CheckedFile::Outcome::Unsafe:
        *reason = "refusing to use it: " + file.reason();
        return false;
    case comrt::CheckedFile::Outcome::Failed:
        break;
    }
    *reason = file.reason();
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
        return Usage(true);
    if (argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0)) {
        std::printf("regsvr (Quirewell) %s\n", QW_VERSION);
        return 0;
    }
    bool unregister = false;
    int i = 1;
    if (i < argc && std::strcmp(argv[i], "-u") == 0) {
        unregister = true;
        ++i;
    }
    if (argc - i < 1 || argc - i > 2 || argv[i][0] == '-')
        return Usage();
    const std::string library = argv[i];
    if (argc - i == 2)
        comrt::SetRegistryStorePath(argv[i + 1]);
    const std::string store = comrt::RegistryStorePath();

    // A link where the store should be may have been planted to have another file written.
    struct stat st {};
    if (::lstat(store.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::fprintf(stderr, "regsvr: cannot write %s: it is a symbolic link; nothing was written\n",
                     store.c_str());
        return 1;
    }

    std::string before;
    std::string reason;
    if (unregister && !Snapshot(store, &before, &reason)) {
        std::fprintf(stderr, "regsvr: cannot read the registration store %s: %s\n", store.c_str(),
                     reason.c_str());
        return 1;
    }

    comrt::ServerLibrary lib;
    HRESULT hr = lib.open(library);
    if (FAILED(hr)) {
        std::fprintf(stderr, "regsvr: %s\n", lib.error().c_str());
        return 1;
    }
    comrt::ClearLastRegistryError();
    hr = unregister ? lib.unregisterServer() : lib.registerServer();
    if (FAILED(hr)) {
        std::string why = comrt::LastRegistryError();
        if (why.empty())
            why = hr == CO_E_ERRORINDLL ? "it is not a component library (no " +
                                              std::string(unregister ? "DllUnregisterServer"
                                                                     : "DllRegisterServer") +
                                              ")"
                                        : comrt::DescribeStatus(hr);
        std::fprintf(stderr, "regsvr: %s %s %s failed: %s\n",
                     unregister ? "removing" : "registering", lib.path().c_str(),
                     unregister ? ("from " + store).c_str() : ("in " + store).c_str(), why.c_str());
        return 1;
    }
    if (unregister) {
        std::string after;
        if (Snapshot(store, &after, &reason) && after == before) {
            std::fprintf(stderr, "regsvr: nothing to remove: %s has no records in %s\n",
                         lib.path().c_str(), store.c_str());
            return 1;
        }
    }
    std::printf("regsvr: %s %s %s\n", lib.path().c_str(),
                unregister ? "removed from" : "registered in", store.c_str());
    return 0;
}
