// The records a component library's registration writes for its one class, in the store's own
// text form: the class with a versioned and a version-independent ProgID, its dual interface and
// its type library.
#pragma once

#include <string>

struct ServerRecords {
    std::string clsid; // "{…}"
    std::string iid;
    std::string libid;
    std::string className;     // "CTIFFPageCount Class"
    std::string progId;        // version-independent; the versioned one adds ".1"
    std::string interfaceName; // "ICTIFFPageCount"
    std::string typeLibDoc;    // "Tallyfold 1.0 Type Library"
};

// Every record, `path` being the library as recorded and `folder` its folder. The store keeps its
// keys sorted; the ProgIDs used here sort between Interface and TypeLib.
inline std::string ExpectedStore(const ServerRecords& s, const std::string& path,
                                 const std::string& folder)
{
    const std::string r = "[HKEY_CLASSES_ROOT\\";
    const std::string c = r + "CLSID\\" + s.clsid;
    const std::string i = r + "Interface\\" + s.iid;
    const std::string t = r + "TypeLib\\" + s.libid;
    const std::string name = "]\n@=\"" + s.className + "\"\n";
    return "REGEDIT4\n"
           "\n" + r + "CLSID]\n"
           "\n" + c + name +
           "\n" + c + "\\InprocServer32]\n@=\"" + path + "\"\n\"ThreadingModel\"=\"Apartment\"\n"
           "\n" + c + "\\ProgID]\n@=\"" + s.progId + ".1\"\n"
           "\n" + c + "\\Programmable]\n"
           "\n" + c + "\\TypeLib]\n@=\"" + s.libid + "\"\n"
           "\n" + c + "\\VersionIndependentProgID]\n@=\"" + s.progId + "\"\n"
           "\n" + r + "Interface]\n"
           "\n" + i + "]\n@=\"" + s.interfaceName + "\"\n"
           "\n" + i + "\\ProxyStubClsid]\n@=\"{00020424-0000-0000-C000-000000000046}\"\n"
           "\n" + i + "\\ProxyStubClsid32]\n@=\"{00020424-0000-0000-C000-000000000046}\"\n"
           "\n" + i + "\\TypeLib]\n@=\"" + s.libid + "\"\n\"Version\"=\"1.0\"\n"
           "\n" + r + s.progId + name +
           "\n" + r + s.progId + "\\CLSID]\n@=\"" + s.clsid + "\"\n"
           "\n" + r + s.progId + "\\CurVer]\n@=\"" + s.progId + ".1\"\n"
           "\n" + r + s.progId + ".1" + name +
           "\n" + r + s.progId + ".1\\CLSID]\n@=\"" + s.clsid + "\"\n"
           "\n" + r + "TypeLib]\n"
           "\n" + t + "]\n"
           "\n" + t + "\\1.0]\n@=\"" + s.typeLibDoc + "\"\n"
           "\n" + t + "\\1.0\\0]\n"
           "\n" + t + "\\1.0\\0\\linux64]\n@=\"" + path + "\"\n"
           "\n" + t + "\\1.0\\FLAGS]\n@=\"0\"\n"
           "\n" + t + "\\1.0\\HELPDIR]\n@=\"" + folder + "\"\n";
}
