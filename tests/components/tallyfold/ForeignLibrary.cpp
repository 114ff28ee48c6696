// Stands in for a library somebody else put where the program's libraries once were: merely
// loading it leaves a marker file (named by $QW_MARKER_FILE), which the tests look for.
#include <cstdlib>
#include <fstream>

namespace {

__attribute__((constructor)) void LeaveMarker()
{
    if (const char* marker = std::getenv("QW_MARKER_FILE"))
        std::ofstream(marker) << "foreign code ran\n";
}

} // namespace

extern "C" __attribute__((visibility("default"))) long DllGetClassObject(const void*, const void*,
                                                                          void** ppv)
{
    if (ppv)
        *ppv = nullptr;
    return static_cast<long>(0x80040111L); // CLASS_E_CLASSNOTAVAILABLE
}
