// Where the program's own files are. Two layouts are supported:
//  - portable: everything (executables, component libraries, the PDF helper, regsvr, the store)
//    in one folder, as the build's bin/ folder or a copy of it;
//  - installed: the executables in <prefix>/bin, the components, the helper, regsvr and the
//    store in <prefix>/lib/quirewell, the help page in <prefix>/share/doc/quirewell.
// The portable layout wins whenever a store sits beside the executable.
#pragma once

#include <string>

namespace comrt {

// The store this program uses unless told otherwise: quirewell.reg beside the executable when it
// is there, else the installed layout's store when that is there, else beside the executable
// (where a first registration creates it).
std::string DefaultStorePath();

// True when the program runs from the installed layout: no store beside the executable, and
// the installed layout's store exists.
bool RunsInstalled();

// The installed layout's folders for this executable (whether or not they exist).
std::string InstalledComponentFolder();
std::string InstalledDocFolder();

// The same decisions for an explicit executable folder; the functions above pass
// ExecutableFolder().
std::string DefaultStorePathFor(const std::string& exeFolder);
bool RunsInstalledFrom(const std::string& exeFolder);
std::string InstalledDocFolderFor(const std::string& exeFolder);

} // namespace comrt
