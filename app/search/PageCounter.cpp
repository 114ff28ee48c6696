#include "PageCounter.h"

#include "ComRuntime.h"
#include "ICTIFFPageCount.h"
#include "IPDFPageCounter.h"
#include "IPageCountAbort.h"
#include "IPageCountPrefetch.h"

#include <cstdlib>
#include <dlfcn.h>
#include <sys/stat.h>

namespace search {

namespace {

// ICTIFFPageCount and IPDFPageCounter have the same shape: IDispatch, then GetPages.
template<typename Interface>
class ComPageCounter final : public PageCounter
{
public:
    explicit ComPageCounter(Interface *counter) : m_counter(counter)
    {
        // Optional: a counter without it is left to finish its call.
        void *abort = nullptr;
        if (SUCCEEDED(m_counter->QueryInterface(IID_IPageCountAbort, &abort)))
            m_abort = static_cast<IPageCountAbort *>(abort);
        void *prefetch = nullptr;
        if (SUCCEEDED(m_counter->QueryInterface(IID_IPageCountPrefetch, &prefetch)))
            m_prefetch = static_cast<IPageCountPrefetch *>(prefetch);
        m_identity = identityOf(*reinterpret_cast<void **>(m_counter));
    }
    ~ComPageCounter() override
    {
        if (m_abort)
            m_abort->Release();
        if (m_prefetch)
            m_prefetch->Release();
        m_counter->Release();
    }
    ComPageCounter(const ComPageCounter &) = delete;
    ComPageCounter &operator=(const ComPageCounter &) = delete;

    std::optional<int32_t> getPages(const QByteArray &path) override
    {
        BSTR text = bstrOf(path);
        LONG pages = 0;
        const HRESULT hr = text ? m_counter->GetPages(text, &pages) : E_OUTOFMEMORY;
        SysFreeString(text);
        if (FAILED(hr))
            return std::nullopt;
        return pages;
    }

    void abort() override
    {
        if (m_abort)
            m_abort->Abort();
    }

    bool prefetches() const override { return m_prefetch != nullptr; }

    QByteArray identity() const override { return m_identity; }

    void prefetch(const std::vector<QByteArray> &paths) override
    {
        if (!m_prefetch || paths.empty())
            return;
        std::vector<BSTR> texts;
        texts.reserve(paths.size());
        for (const QByteArray &path : paths) {
            texts.push_back(bstrOf(path));
            if (!texts.back()) {
                texts.pop_back();
                break;  // announce the leading part only: the calls come in this order
            }
        }
        if (!texts.empty())
            m_prefetch->Prefetch(texts.data(), ULONG(texts.size()));
        for (BSTR text : texts)
            SysFreeString(text);
    }

private:
    // Undecodable bytes travel escaped (see FileNames.h); the counters reopen the same file.
    static BSTR bstrOf(const QByteArray &path)
    {
        return comrt::AllocBstrFromFileName(std::string_view(path.constData(), size_t(path.size())));
    }

    // The library the object's code lives in, as it is on disk now: a rebuilt or replaced
    // library (same path, other contents) is another counter.
    static QByteArray identityOf(const void *vtable)
    {
        Dl_info info{};
        if (!vtable || ::dladdr(*static_cast<void *const *>(vtable), &info) == 0 || !info.dli_fname)
            return {};
        // Libraries are loaded through the descriptor they were checked on, so the name the
        // loader knows is /proc/self/fd/N, whose N differs from run to run: the file it leads to
        // names the counter. Its facts are read through the loader's name, which leads to the
        // file loaded even if another has taken its place on disk since.
        char *real = ::realpath(info.dli_fname, nullptr);
        if (!real)
            return {};
        const QByteArray file(real);
        std::free(real);
        struct stat st {};
        if (::stat(info.dli_fname, &st) != 0)
            return {};
        comrt::FileVersion version;
        const std::string versionText =
            SUCCEEDED(comrt::GetFileVersionInfo(info.dli_fname, &version)) ? version.text() : std::string();
        return file + '\n'
               + QByteArray::number(qulonglong(st.st_dev)) + ':' + QByteArray::number(qulonglong(st.st_ino)) + ':'
               + QByteArray::number(qlonglong(st.st_size)) + ':'
               + QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.' + QByteArray::number(qlonglong(st.st_mtim.tv_nsec)) + ':'
               + QByteArray::number(qlonglong(st.st_ctim.tv_sec)) + '.' + QByteArray::number(qlonglong(st.st_ctim.tv_nsec)) + '\n'
               + QByteArray::fromStdString(versionText);
    }

    Interface *m_counter;
    QByteArray m_identity;
    IPageCountAbort *m_abort = nullptr;
    IPageCountPrefetch *m_prefetch = nullptr;
};

QString describe(HRESULT hr)
{
    const QString code = QString::asprintf("0x%08X", unsigned(hr));
    switch (hr) {
    case REGDB_E_CLASSNOTREG:
        return QStringLiteral("not registered (%1)").arg(code);
    case CO_E_DLLNOTFOUND:
        return QStringLiteral("its library could not be loaded (%1)").arg(code);
    case CO_E_ERRORINDLL:
        return QStringLiteral("its library has no class object (%1)").arg(code);
    case E_NOINTERFACE:
        return QStringLiteral("it lacks the page count interface (%1)").arg(code);
    default:
        return QStringLiteral("creation failed (%1)").arg(code);
    }
}

class ComPageCounterFactory final : public PageCounterFactory
{
public:
    std::unique_ptr<PageCounter> create(CounterKind kind) override
    {
        m_lastError.clear();
        if (kind == CounterKind::Tiff)
            return create<ICTIFFPageCount>(CLSID_CTIFFPageCount, IID_ICTIFFPageCount);
        return create<IPDFPageCounter>(CLSID_CPDFPageCounter, IID_IPDFPageCounter);
    }
    QString lastCreateError() const override { return m_lastError; }

private:
    template<typename Interface>
    std::unique_ptr<PageCounter> create(REFCLSID clsid, REFIID iid)
    {
        Interface *counter = nullptr;
        const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                            reinterpret_cast<void **>(&counter));
        if (SUCCEEDED(hr) && counter)
            return std::make_unique<ComPageCounter<Interface>>(counter);
        // The runtime's own account names the store or library and the repair; it is kept per
        // thread, and this is the thread that asked.
        const std::string why = comrt::LastActivationError();
        m_lastError = why.empty() ? describe(FAILED(hr) ? hr : E_UNEXPECTED) : QString::fromStdString(why);
        return nullptr;
    }

    QString m_lastError;
};

}  // namespace

std::unique_ptr<PageCounterFactory> makeComPageCounterFactory()
{
    return std::make_unique<ComPageCounterFactory>();
}

}  // namespace search
