// The PDF page counter component: class CPDFPageCounter behind IPDFPageCounter, served by the
// pdfcounter library. Counting runs in helper processes kept in a pool for the library's life:
// each count borrows one, so a folder after folder costs no process start, and counts running at
// once on several instances each have their own. An instance told which files come next
// (IPageCountPrefetch) keeps its helper until it has asked for them. The library stays loaded while a helper has
// been used within the last minute, so a search's CoFreeUnusedLibraries does not end them.

#include "ComServer.h"
#include "HelperPool.h"
#include "HelperProtocol.h"
#include "IPDFPageCounter.h"
#include "IPageCountAbort.h"
#include "IPageCountPrefetch.h"
#include "PdfPageCount.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr pdfcount::HelperLimits CountLimits{std::chrono::seconds(10), std::chrono::seconds(30)};
// The most counts that run at once in practice (the search's lanes); more idle helpers than this
// are stopped.
constexpr std::size_t KeepIdleHelpers = 8;
constexpr std::chrono::milliseconds DefaultIdleLife{60'000};

std::mutex g_poolMutex;
std::unique_ptr<pdfcount::HelperPool> g_pool;

pdfcount::HelperPool& pool()
{
    std::lock_guard lock(g_poolMutex);
    if (!g_pool) {
        std::string folder = comrt::ServerModule::Instance().modulePath();
        folder.erase(folder.find_last_of('/') + 1);
        g_pool = std::make_unique<pdfcount::HelperPool>(folder + pdfcount::wire::HelperFileName,
                                                        CountLimits, KeepIdleHelpers);
    }
    return *g_pool;
}

// How long idle helpers keep the library loaded; QW_PDFCOUNTER_IDLE_MS shortens it for tests.
std::chrono::milliseconds idleLife()
{
    if (const char* text = std::getenv("QW_PDFCOUNTER_IDLE_MS"); text && *text) {
        char* end = nullptr;
        const long long ms = std::strtoll(text, &end, 10);
        if (*end == '\0' && ms >= 0)
            return std::chrono::milliseconds(ms);
    }
    return DefaultIdleLife;
}

bool keepLoaded()
{
    std::lock_guard lock(g_poolMutex);
    return g_pool && g_pool->busyWithin(idleLife());
}

void startModule() { comrt::ServerModule::Instance().setKeepLoaded(&keepLoaded); }

void stopModule()
{
    comrt::ServerModule::Instance().setKeepLoaded(nullptr);
    std::unique_ptr<pdfcount::HelperPool> last;
    {
        std::lock_guard lock(g_poolMutex);
        last = std::move(g_pool);
    }
}

class CPDFPageCounter : public comrt::DispatchImpl<IPDFPageCounter, IID_IPDFPageCounter>,
                        public IPageCountAbort,
                        public IPageCountPrefetch {
public:
    CPDFPageCounter() = default;
    ~CPDFPageCounter() { giveBackHeld(); }
    void* FindInterface(REFIID riid)
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IPDFPageCounter)
            return static_cast<IPDFPageCounter*>(this);
        if (riid == IID_IPageCountAbort)
            return static_cast<IPageCountAbort*>(this);
        if (riid == IID_IPageCountPrefetch)
            return static_cast<IPageCountPrefetch*>(this);
        return nullptr;
    }

    HRESULT GetPages(BSTR filename, LONG* pVal) override
    {
        if (!pVal)
            return E_POINTER;
        try {
            // Up to the first NUL; a lone U+DC80..U+DCFF stands for a raw byte of a name that is
            // not valid UTF-8.
            const std::string name = fileName(filename);
            if (name.empty())
                return PDFCOUNTER_E_EMPTYNAME;
            *pVal = countWithPooledHelper(name);
            return S_OK;
        } catch (...) {
            // Out of memory building the name or the client; nothing may cross the interface.
            return E_OUTOFMEMORY;
        }
    }

    // Same thread as GetPages; see IPageCountPrefetch.
    HRESULT Prefetch(const BSTR* filenames, ULONG count) override
    {
        if (count && !filenames)
            return E_POINTER;
        try {
            std::vector<std::string> names;
            names.reserve(count);
            for (ULONG i = 0; i < count; ++i)
                names.push_back(fileName(filenames[i]));
            if (!m_held) {
                m_held = pool().take();
                m_held->resetAbort();
            }
            m_held->sendAhead(names);
            if (m_held->sentAhead() == 0)
                giveBackHeld();
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    // Any thread; see IPageCountAbort.
    HRESULT Abort() override
    {
        std::lock_guard lock(m_abortMutex);
        if (!m_inCall)
            return S_OK;
        m_abortAsked = true;
        if (m_current)
            m_current->abort();
        return S_OK;
    }

private:
    int32_t countWithPooledHelper(const std::string& name)
    {
        pdfcount::HelperPool& helpers = pool();
        // Whatever happens, the helper goes back and the call is over for Abort.
        struct Borrowed {
            CPDFPageCounter& self;
            pdfcount::HelperPool& helpers;
            std::unique_ptr<pdfcount::HelperClient> client;
            ~Borrowed()
            {
                {
                    std::lock_guard lock(self.m_abortMutex);
                    self.m_current = nullptr;
                    self.m_inCall = false;
                }
                if (client && client->sentAhead() > 0)
                    self.m_held = std::move(client);  // more answers to come for this instance
                else if (client)
                    helpers.give(std::move(client));
            }
        } borrowed{*this, helpers, nullptr};
        {
            std::lock_guard lock(m_abortMutex);
            m_inCall = true;
            m_abortAsked = false;
        }
        // The helper that has this instance's files sent ahead, else any.
        borrowed.client = m_held ? std::move(m_held) : helpers.take();
        borrowed.client->resetAbort();
        {
            // From here an Abort reaches the helper; one that came earlier ends the call now.
            std::lock_guard lock(m_abortMutex);
            if (m_abortAsked)
                return pdfcount::GaveUp;
            m_current = borrowed.client.get();
        }
        return borrowed.client->count(name);
    }

    static std::string fileName(BSTR filename)
    {
        return comrt::FileNameFromUtf16(
            std::u16string_view(filename ? filename : u"", filename ? SysStringLen(filename) : 0));
    }
    void giveBackHeld()
    {
        if (!m_held)
            return;
        m_held->dropSentAhead();
        pool().give(std::move(m_held));
    }
    std::unique_ptr<pdfcount::HelperClient> m_held;  // this thread's only
    std::mutex m_abortMutex;
    bool m_inCall = false;
    bool m_abortAsked = false;
    pdfcount::HelperClient* m_current = nullptr;
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
    {&CLSID_CPDFPageCounter, kRegistryScript, &comrt::CreateObject<CPDFPageCounter>, &startModule,
     &stopModule}};
constexpr comrt::VersionInfo kVersion = {{1, 0, 0, 1}, {1, 0, 0, 1}, "PdfCounter Module",
                                         "PdfCounter", "PdfCounter", true};
constexpr comrt::ServerDefinition kServer = {kClasses, 1, &kTypeLib, &kVersion};

}  // namespace

COMRT_DEFINE_SERVER(kServer)
