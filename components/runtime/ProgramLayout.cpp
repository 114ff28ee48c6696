#include "ProgramLayout.h"

#include "ComRegistry.h"

#include <sys/stat.h>

// Paths from the installed bin folder to the other installed folders; the build passes the
// real ones (see the top-level CMakeLists.txt).
#ifndef QW_BIN_TO_PKGLIB
#define QW_BIN_TO_PKGLIB "../lib/quirewell"
#endif
#ifndef QW_BIN_TO_DOC
#define QW_BIN_TO_DOC "../share/doc/quirewell"
#endif

namespace {

constexpr char kStoreName[] = "/quirewell.reg";

bool IsFile(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Join(const std::string& folder, const char* tail)
{
    if (tail[0] == '/')
        return tail; // installed with absolute folders
    return folder == "/" ? folder + tail : folder + "/" + tail;
}

} // namespace

std::string comrt::DefaultStorePathFor(const std::string& exeFolder)
{
    const std::string beside = exeFolder + kStoreName;
    if (IsFile(beside))
        return beside;
    const std::string installed = Join(exeFolder, QW_BIN_TO_PKGLIB) + kStoreName;
    if (IsFile(installed))
        return installed;
    return beside;
}

bool comrt::RunsInstalledFrom(const std::string& exeFolder)
{
    return DefaultStorePathFor(exeFolder) != exeFolder + kStoreName;
}

std::string comrt::DefaultStorePath()
{
    return DefaultStorePathFor(ExecutableFolder());
}

bool comrt::RunsInstalled()
{
    return RunsInstalledFrom(ExecutableFolder());
}

std::string comrt::InstalledComponentFolder()
{
    return Join(ExecutableFolder(), QW_BIN_TO_PKGLIB);
}

std::string comrt::InstalledDocFolder()
{
    return InstalledDocFolderFor(ExecutableFolder());
}

std::string comrt::InstalledDocFolderFor(const std::string& exeFolder)
{
    return Join(exeFolder, QW_BIN_TO_DOC);
}
