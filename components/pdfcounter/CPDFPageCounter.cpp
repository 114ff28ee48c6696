// The PDF page counter component: class CPDFPageCounter behind IPDFPageCounter, served by the
// pdfcounter library. Counting runs in the helper process (HelperClient), shared by every
// instance the library makes and stopped when the library unloads.

#include "ComServer.h"
#include "HelperClient.h"
#include "HelperProtocol.h"
#include "IPDFPageCounter.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

namespace {

// No single count may hold the caller up longer than this.
constexpr std::chrono::milliseconds CountTimeBound{10'000};

std::mutex g_helperMutex;
std::unique_ptr<pdfcount::HelperClient> g_helper;

pdfcount::HelperClient& sharedHelper()
{
    std::lock_guard lock(g_helperMutex);
    if (!g_helper) {
        std::string folder = comrt::ServerModule::Instance().modulePath();
        folder.erase(folder.find_last_of('/') + 1);
        g_helper = std::make_unique<pdfcount::HelperClient>(
            folder + pdfcount::wire::HelperFileName, CountTimeBound);
    }
    return *g_helper;
}

void stopHelper()
{
    std::lock_guard lock(g_helperMutex);
    g_helper.reset();
}

class CPDFPageCounter : public comrt::DispatchImpl<IPDFPageCounter, IID_IPDFPageCounter> {
public:
    void* FindInterface(REFIID riid)
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IPDFPageCounter)
            return static_cast<IPDFPageCounter*>(this);
        return nullptr;
    }

    HRESULT GetPages(BSTR filename, LONG* pVal) override
    {
        if (!pVal)
            return E_POINTER;
        try {
            // Up to the first NUL; a lone U+DC80..U+DCFF stands for a raw byte of a name that is
            // not valid UTF-8.
            const std::string name = comrt::FileNameFromUtf16(
                std::u16string_view(filename ? filename : u"", filename ? SysStringLen(filename) : 0));
            if (name.empty())
                return PDFCOUNTER_E_EMPTYNAME;
            *pVal = sharedHelper().count(name);
            return S_OK;
        } catch (...) {
            // Out of memory building the name or the client; nothing may cross the interface.
            return E_OUTOFMEMORY;
        }
    }
};

constexpr comrt::ParamDesc kGetPagesParams[] = {
    {u"filename", VT_BSTR, PARAMFLAG_FIN},
    {u"pVal", VT_I4, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr comrt::MemberDesc kMembers[] = {
    {1, u"GetPages", INVOKE_PROPERTYGET, kGetPagesParams, 2, u"property GetPages", 7,
     &comrt::MemberInvoker<&IPDFPageCounter::GetPages>}};
constexpr comrt::InterfaceDesc kInterfaces[] = {
    {IID_IPDFPageCounter, u"IPDFPageCounter", u"IPDFPageCounter Interface",
     TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE, IID_IDispatch, kMembers, 1}};
constexpr comrt::CoClassDesc kCoClasses[] = {
    {CLSID_CPDFPageCounter, u"CPDFPageCounter", u"CPDFPageCounter Class", TYPEFLAG_FCANCREATE,
     IID_IPDFPageCounter}};
constexpr comrt::TypeLibDesc kTypeLib = {sizeof(comrt::TypeLibDesc),
                                         LIBID_PDFCOUNTERLib,
                                         u"PDFCOUNTERLib",
                                         u"PdfCounter 1.0 Type Library",
                                         1,
                                         0,
                                         LOCALE_NEUTRAL,
                                         SYS_LINUX64,
                                         0,
                                         LIBID_stdole,
                                         kInterfaces,
                                         1,
                                         kCoClasses,
                                         1};

constexpr char kRegistryScript[] = R"(HKCR
{
    Quirewell.CPDFPageCounter.1 = s 'CPDFPageCounter Class'
    {
        CLSID = s '{91AB0239-0B45-4982-AD46-DAAC2DE0BA8A}'
    }
    Quirewell.CPDFPageCounter = s 'CPDFPageCounter Class'
    {
        CLSID = s '{91AB0239-0B45-4982-AD46-DAAC2DE0BA8A}'
        CurVer = s 'Quirewell.CPDFPageCounter.1'
    }
    NoRemove CLSID
    {
        ForceRemove {91AB0239-0B45-4982-AD46-DAAC2DE0BA8A} = s 'CPDFPageCounter Class'
        {
            ProgID = s 'Quirewell.CPDFPageCounter.1'
            VersionIndependentProgID = s 'Quirewell.CPDFPageCounter'
            ForceRemove Programmable
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            TypeLib = s '{6C152C32-EDF7-4250-A6E5-6A1219B083D5}'
        }
    }
}
)";

constexpr comrt::ClassEntry kClasses[] = {
    {&CLSID_CPDFPageCounter, kRegistryScript, &comrt::CreateObject<CPDFPageCounter>, nullptr,
     &stopHelper}};
constexpr comrt::VersionInfo kVersion = {{1, 0, 0, 1}, {1, 0, 0, 1}, "PdfCounter Module",
                                         "PdfCounter", "PdfCounter", true};
constexpr comrt::ServerDefinition kServer = {kClasses, 1, &kTypeLib, &kVersion};

}  // namespace

COMRT_DEFINE_SERVER(kServer)
