// regsvr: registers a component library in the registration store, or removes its records.
//
//   regsvr [-u] <library> [store]
//
// Without a store the store beside this program is used (the program folder's quirewell.reg).
#include "ComRegistry.h"
#include "ComRuntime.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: regsvr [-u] <library> [store]\n"
                         "  registers the component library in the store (default: %s);\n"
                         "  -u removes its records instead\n",
                 comrt::RegistryStorePath().c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
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

    comrt::ServerLibrary lib;
    HRESULT hr = lib.open(library);
    if (FAILED(hr)) {
        std::fprintf(stderr, "regsvr: cannot load %s: %s\n", library.c_str(), lib.error().c_str());
        return 1;
    }
    hr = unregister ? lib.unregisterServer() : lib.registerServer();
    if (FAILED(hr)) {
        std::fprintf(stderr, "regsvr: %s of %s failed with status 0x%08X\n",
                     unregister ? "DllUnregisterServer" : "DllRegisterServer", lib.path().c_str(),
                     static_cast<unsigned>(hr));
        return 1;
    }
    std::printf("regsvr: %s %s %s\n", lib.path().c_str(),
                unregister ? "removed from" : "registered in", comrt::RegistryStorePath().c_str());
    return 0;
}
