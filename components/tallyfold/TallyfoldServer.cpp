// The tallyfold component server: its class table, registration records, type library
// TALLYFOLDLib, version block and the four exported entry points.
#include "CTIFFPageCount.h"
#include "ComServer.h"
#include "TallyfoldVersion.h"

namespace {

constexpr char kCTIFFPageCountScript[] = R"(
HKCR
{
    Tallyfold.CTIFFPageCount.1 = s 'CTIFFPageCount Class'
    {
        CLSID = s '{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}'
    }
    Tallyfold.CTIFFPageCount = s 'CTIFFPageCount Class'
    {
        CLSID = s '{636CD4EF-6AFB-4707-98D0-8D2A26FA2241}'
        CurVer = s 'Tallyfold.CTIFFPageCount.1'
    }
    NoRemove CLSID
    {
        ForceRemove {636CD4EF-6AFB-4707-98D0-8D2A26FA2241} = s 'CTIFFPageCount Class'
        {
            ProgID = s 'Tallyfold.CTIFFPageCount.1'
            VersionIndependentProgID = s 'Tallyfold.CTIFFPageCount'
            ForceRemove 'Programmable'
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            'TypeLib' = s '{94C5833A-F2F7-42C4-8AFD-C7992E61E667}'
        }
    }
}
)";

constexpr comrt::ParamDesc kGetPagesParams[] = {
    {u"filename", VT_BSTR, PARAMFLAG_FIN},
    {u"pVal", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
};

constexpr comrt::MemberDesc kICTIFFPageCountMembers[] = {
    {DISPID_GetPages, u"GetPages", INVOKE_PROPERTYGET, kGetPagesParams, 2, u"property GetPages", 7,
     &comrt::MemberInvoker<&ICTIFFPageCount::GetPages>},
};

constexpr comrt::InterfaceDesc kInterfaces[] = {
    {IID_ICTIFFPageCount, u"ICTIFFPageCount", u"ICTIFFPageCount Interface",
     TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, IID_IDispatch,
     kICTIFFPageCountMembers, 1},
};

constexpr comrt::CoClassDesc kCoClasses[] = {
    {CLSID_CTIFFPageCount, u"CTIFFPageCount", u"CTIFFPageCount Class", TYPEFLAG_FCANCREATE,
     IID_ICTIFFPageCount},
};

constexpr comrt::TypeLibDesc kTypeLib = {
    sizeof(comrt::TypeLibDesc),
    LIBID_TALLYFOLDLib,
    u"TALLYFOLDLib",
    u"Tallyfold 1.0 Type Library",
    1,
    0,
    LOCALE_NEUTRAL,
    SYS_LINUX64,
    0,
    LIBID_stdole,
    kInterfaces,
    1,
    kCoClasses,
    1,
};

constexpr comrt::ClassEntry kClasses[] = {
    {&CLSID_CTIFFPageCount, kCTIFFPageCountScript, &comrt::CreateObject<CTIFFPageCount>, nullptr,
     nullptr},
};

constexpr comrt::VersionInfo kVersion = {
    {tallyfold::kVersion[0], tallyfold::kVersion[1], tallyfold::kVersion[2], tallyfold::kVersion[3]},
    {tallyfold::kVersion[0], tallyfold::kVersion[1], tallyfold::kVersion[2], tallyfold::kVersion[3]},
    tallyfold::kFileDescription,
    tallyfold::kInternalName,
    tallyfold::kProjectName,
    true,
};

constexpr comrt::ServerDefinition kServer = {kClasses, 1, &kTypeLib, &kVersion};

} // namespace

COMRT_DEFINE_SERVER(kServer)
