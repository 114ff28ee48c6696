#include "PageCountCache.h"

#include "PageResult.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace search {

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
// A file changed this close to the start of its count may still be being written.
constexpr int64_t kRacyWindowNs = 2 * kNsPerSecond;
// Answers written per transaction: few enough that a crash loses little, many enough that a
// search of small files does not wait on commits.
constexpr size_t kFlushEvery = 2048;
// Held back at most, for a caller that never writes them itself (see wantsWrite).
constexpr size_t kPendingMost = 4 * kFlushEvery;
// Lookups made in one read transaction (one snapshot of the file) before it is renewed.
constexpr int kLookupsPerRead = 1024;

constexpr const char *kSchema =
    "CREATE TABLE IF NOT EXISTS counters(id INTEGER PRIMARY KEY AUTOINCREMENT, identity BLOB NOT NULL UNIQUE);"
    "CREATE TABLE IF NOT EXISTS counts(path BLOB PRIMARY KEY, counter INTEGER NOT NULL, dev INTEGER NOT NULL,"
    " ino INTEGER NOT NULL, size INTEGER NOT NULL, mtime INTEGER NOT NULL, ctime INTEGER NOT NULL,"
    " pages INTEGER NOT NULL, seen INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);";

int64_t nsOf(const struct timespec &t)
{
    return int64_t(t.tv_sec) * kNsPerSecond + t.tv_nsec;
}

bool isDamage(int rc)
{
    rc &= 0xff;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB || rc == SQLITE_FORMAT;
}

QString reasonOf(int rc, sqlite3 *db)
{
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("locked by another program");
    case SQLITE_READONLY:
        return QStringLiteral("read-only");
    case SQLITE_FULL:
        return QStringLiteral("the disk is full");
    default:
        break;
    }
    const int err = db ? sqlite3_system_errno(db) : 0;
    if (err)
        return QString::fromLocal8Bit(std::strerror(err));
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
}

}  // namespace

std::optional<FileStamp> stampOf(const QByteArray &path)
{
    return readStamp(path);
}

int64_t wallClockNs()
{
    struct timespec t {};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return nsOf(t);
}

struct PageCountCache::Statements
{
    sqlite3_stmt *find = nullptr;
    sqlite3_stmt *put = nullptr;
    sqlite3_stmt *touch = nullptr;
    sqlite3_stmt *counter = nullptr;
    sqlite3_stmt *addCounter = nullptr;

    ~Statements()
    {
        for (sqlite3_stmt *s : {find, put, touch, counter, addCounter})
            sqlite3_finalize(s);
    }
};

PageCountCache::PageCountCache() : PageCountCache(Options()) {}

PageCountCache::PageCountCache(Options options) : m_options(std::move(options))
{
    if (m_options.file.isEmpty())
        m_options.file = defaultLocation();
}

PageCountCache::~PageCountCache()
{
    std::lock_guard lock(m_mutex);
    if (m_hasPending)
        flushLocked();
    endRead();
    close();
}

QString PageCountCache::defaultLocation()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    // Relative values are to be ignored, as for every XDG variable.
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/quirewell/page-counts.sqlite");
}

void PageCountCache::beginSearch()
{
    m_retry = true;
}

bool PageCountCache::wantsWrite() const
{
    return m_pendingCount >= kFlushEvery && !m_writing;
}

bool PageCountCache::hasIdleWork() const
{
    return m_hasPending || m_reading;
}

void PageCountCache::idle()
{
    std::lock_guard lock(m_mutex);
    const bool wrote = m_hasPending && flushLocked();
    endRead();
    // Never waits for another program: what it still reads stays in the log for next time.
    if (wrote && m_db)
        sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

void PageCountCache::endRead()
{
    if (!m_reading)
        return;
    m_reading = false;
    m_lookupsInRead = 0;
    if (m_db && !sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
}

bool PageCountCache::storable(int32_t code, const FileStamp &before, const FileStamp &after, int64_t countStartNs)
{
    // Not an answer about the content: a file that could not be opened may open next time, and a
    // count that gave up may finish with more time.
    const bool definite = code >= 0 || code == kWrongSignature || code == kDamaged || code == kNeedsPassword;
    if (!definite || !(before == after))
        return false;
    const int64_t latest = std::max(after.mtimeNs, after.ctimeNs);
    return latest < countStartNs - kRacyWindowNs;
}

int64_t PageCountCache::today() const
{
    const int64_t seconds = m_options.now ? m_options.now() : int64_t(std::time(nullptr));
    return seconds / 86400;
}

void PageCountCache::close()
{
    m_reading = false;
    m_lookupsInRead = 0;
    m_st.reset();
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_counterIds.clear();
    m_unknownCounters.clear();
}

void PageCountCache::fail(const QString &why, int rc)
{
    close();
    {
        std::lock_guard pendingLock(m_pendingMutex);
        m_pending.clear();
        m_pendingCount = 0;
        m_seen.clear();
        m_hasPending = false;
    }
    if (m_failed)
        return;
    m_failed = true;
    const QString line = QStringLiteral("page-count cache %1: %2; counting without it")
                             .arg(QDir::toNativeSeparators(m_options.file), why);
    if (m_options.warn)
        m_options.warn(line);
    else
        std::fprintf(stderr, "quirewell: %s\n", line.toLocal8Bit().constData());
    if (isDamage(rc))
        setAside();
}

void PageCountCache::setAside()
{
    const QString aside = m_options.file + QStringLiteral(".damaged");
    QFile::remove(aside);
    QFile::rename(m_options.file, aside);
    QFile::remove(m_options.file + QStringLiteral("-wal"));
    QFile::remove(m_options.file + QStringLiteral("-shm"));
}

bool PageCountCache::openFile(QString &why, bool &damaged)
{
    damaged = false;
    const QByteArray file = QFile::encodeName(m_options.file);
    const QFileInfo info(m_options.file);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    struct stat st {};
    if (::stat(folder.constData(), &st) != 0) {
        // Only our own folder is made private; the ones above it are the user's.
        QDir().mkpath(QFileInfo(info.absolutePath()).absolutePath());
        if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) {
            why = QStringLiteral("cannot create the folder: ") + QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
    }
    // Made here so it is private from the start; SQLite gives its side files the same mode.
    const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    ::close(fd);

    int rc = sqlite3_open_v2(file.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK && sqlite3_db_readonly(m_db, "main") == 1)
        rc = SQLITE_READONLY;
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(m_db, m_options.busyTimeoutMs);
        // Checkpoints (which wait on the disk) are made when the lanes are idle; the automatic
        // one only bounds the log should a long search never pause.
        rc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=10000;",
                          nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        m_st = std::make_unique<Statements>();
        const std::pair<const char *, sqlite3_stmt **> statements[] = {
            {"SELECT counter, dev, ino, size, mtime, ctime, pages, seen FROM counts WHERE path = ?1", &m_st->find},
            {"INSERT OR REPLACE INTO counts(path, counter, dev, ino, size, mtime, ctime, pages, seen)"
             " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
             &m_st->put},
            {"UPDATE counts SET seen = ?2 WHERE path = ?1 AND seen < ?2", &m_st->touch},
            {"SELECT id FROM counters WHERE identity = ?1", &m_st->counter},
            {"INSERT INTO counters(identity) VALUES(?1)", &m_st->addCounter},
        };
        for (const auto &[sql, slot] : statements) {
            rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, slot, nullptr);
            if (rc != SQLITE_OK) {
                // Tables of another shape: not a cache this program can use.
                if ((rc & 0xff) == SQLITE_ERROR)
                    rc = SQLITE_CORRUPT;
                break;
            }
        }
    }
    if (rc != SQLITE_OK) {
        damaged = isDamage(rc);
        why = damaged ? QStringLiteral("damaged") : reasonOf(rc, m_db);
        close();
        return false;
    }
    return true;
}

bool PageCountCache::ensureOpen()
{
    if (m_retry.exchange(false))
        m_failed = false;
    if (m_db)
        return true;
    if (m_failed)
        return false;
    QString why;
    bool damaged = false;
    if (!openFile(why, damaged)) {
        if (!damaged) {
            fail(why, SQLITE_CANTOPEN);
            return false;
        }
        // Set aside for whoever wants to look at it, and started anew.
        setAside();
        if (!openFile(why, damaged)) {
            fail(why, SQLITE_CANTOPEN);
            return false;
        }
        const QString line = QStringLiteral("page-count cache %1 was damaged; set aside as %2 and started anew")
                                 .arg(QDir::toNativeSeparators(m_options.file),
                                      QDir::toNativeSeparators(m_options.file + QStringLiteral(".damaged")));
        if (m_options.warn)
            m_options.warn(line);
        else
            std::fprintf(stderr, "quirewell: %s\n", line.toLocal8Bit().constData());
    }
    if (!m_pruned) {
        m_pruned = true;
        prune();
    }
    return true;
}

void PageCountCache::prune()
{
    // Once a day is enough, and never worth waiting for another program's write.
    sqlite3_busy_timeout(m_db, 0);
    const int64_t now = today();
    sqlite3_stmt *when = nullptr;
    int64_t last = -1;
    if (sqlite3_prepare_v2(m_db, "SELECT value FROM meta WHERE key = 'pruned'", -1, &when, nullptr) == SQLITE_OK
        && sqlite3_step(when) == SQLITE_ROW)
        last = sqlite3_column_int64(when, 0);
    sqlite3_finalize(when);
    if (last != now && sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
        const QByteArray old = "DELETE FROM counts WHERE seen < " + QByteArray::number(now - m_options.maxAgeDays);
        bool ok = sqlite3_exec(m_db, old.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
        auto pragma = [this](const char *sql) {
            sqlite3_stmt *s = nullptr;
            int64_t v = 0;
            if (sqlite3_prepare_v2(m_db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
                v = sqlite3_column_int64(s, 0);
            sqlite3_finalize(s);
            return v;
        };
        // Repeated, since a quarter of the entries need not be a quarter of the pages.
        for (int round = 0; ok && round < 8; ++round) {
            const int64_t used = (pragma("PRAGMA page_count") - pragma("PRAGMA freelist_count")) * pragma("PRAGMA page_size");
            if (used <= m_options.maxBytes)
                break;
            ok = sqlite3_exec(m_db,
                              "DELETE FROM counts WHERE path IN (SELECT path FROM counts ORDER BY seen"
                              " LIMIT max(1, (SELECT count(*) FROM counts) / 4))",
                              nullptr, nullptr, nullptr)
                 == SQLITE_OK;
        }
        if (ok)
            ok = sqlite3_exec(m_db, "DELETE FROM counters WHERE id NOT IN (SELECT DISTINCT counter FROM counts)",
                              nullptr, nullptr, nullptr)
                 == SQLITE_OK;
        const QByteArray mark = "INSERT OR REPLACE INTO meta(key, value) VALUES('pruned', " + QByteArray::number(now) + ")";
        if (ok)
            ok = sqlite3_exec(m_db, mark.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_exec(m_db, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
        m_counterIds.clear();
    }
    sqlite3_busy_timeout(m_db, m_options.busyTimeoutMs);
}

std::optional<int64_t> PageCountCache::counterId(const QByteArray &identity, bool create)
{
    if (const auto it = m_counterIds.find(identity); it != m_counterIds.end())
        return it->second;
    // A counter the file does not know yet cannot have answers in it: asked once until the next
    // write (the first search with a new counter looks up nothing).
    if (!create && m_unknownCounters.count(identity))
        return std::nullopt;
    sqlite3_stmt *s = m_st->counter;
    sqlite3_bind_blob(s, 1, identity.constData(), int(identity.size()), SQLITE_STATIC);
    std::optional<int64_t> id;
    if (sqlite3_step(s) == SQLITE_ROW)
        id = sqlite3_column_int64(s, 0);
    sqlite3_reset(s);
    if (!id && create) {
        s = m_st->addCounter;
        sqlite3_bind_blob(s, 1, identity.constData(), int(identity.size()), SQLITE_STATIC);
        if (sqlite3_step(s) == SQLITE_DONE)
            id = sqlite3_last_insert_rowid(m_db);
        sqlite3_reset(s);
    }
    if (id)
        m_counterIds[identity] = *id;
    else if (!create)
        m_unknownCounters.insert(identity);
    return id;
}

std::optional<int32_t> PageCountCache::lookup(const QByteArray &path, const FileStamp &stamp, const QByteArray &counter)
{
    // While answers are being written, the lanes count rather than wait: a miss only costs a
    // count, and in a first search nearly every lookup is a miss anyway.
    if (counter.isEmpty() || m_writing)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    if (!ensureOpen())
        return std::nullopt;
    const std::optional<int64_t> id = counterId(counter, false);
    if (!id)
        return std::nullopt;
    if (!m_reading) {
        // Deferred: the snapshot is taken at the first lookup and holds no write lock.
        const int begun = sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr);
        if (begun != SQLITE_OK) {
            fail(reasonOf(begun, m_db), begun);
            return std::nullopt;
        }
        m_reading = true;
    }
    sqlite3_stmt *s = m_st->find;
    sqlite3_bind_blob(s, 1, path.constData(), int(path.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(s);
    std::optional<int32_t> pages;
    bool seenBefore = false;
    if (rc == SQLITE_ROW) {
        FileStamp stored;
        stored.dev = uint64_t(sqlite3_column_int64(s, 1));
        stored.ino = uint64_t(sqlite3_column_int64(s, 2));
        stored.size = uint64_t(sqlite3_column_int64(s, 3));
        stored.mtimeNs = sqlite3_column_int64(s, 4);
        stored.ctimeNs = sqlite3_column_int64(s, 5);
        if (sqlite3_column_int64(s, 0) == *id && stored == stamp) {
            pages = int32_t(sqlite3_column_int64(s, 6));
            seenBefore = sqlite3_column_int64(s, 7) < today();
        }
    }
    sqlite3_reset(s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        fail(reasonOf(rc, m_db), rc);
        return std::nullopt;
    }
    if (++m_lookupsInRead >= kLookupsPerRead)
        endRead();
    if (seenBefore) {
        std::lock_guard pendingLock(m_pendingMutex);
        m_seen.push_back(path);
        m_hasPending = true;
    }
    return pages;
}

void PageCountCache::store(const QByteArray &path, const FileStamp &stamp, const QByteArray &counter, int32_t pages)
{
    if (counter.isEmpty() || (m_failed && !m_retry))
        return;
    size_t pending = 0;
    {
        // Never waits for a write in progress: answers gather beside it.
        std::lock_guard pendingLock(m_pendingMutex);
        m_pending.push_back({path, stamp, counter, pages});
        m_hasPending = true;
        pending = m_pending.size();
        m_pendingCount = pending;
    }
    // Normally the caller writes them when it holds nothing up; this bounds what may gather.
    if (pending >= kPendingMost)
        flush();
}

void PageCountCache::flush()
{
    std::lock_guard lock(m_mutex);
    if (m_hasPending)
        flushLocked();
}

bool PageCountCache::flushLocked()
{
    std::vector<Pending> pending;
    std::vector<QByteArray> seen;
    {
        std::lock_guard pendingLock(m_pendingMutex);
        pending.swap(m_pending);
        m_pendingCount = 0;
        seen.swap(m_seen);
        m_hasPending = false;
    }
    if (pending.empty() && seen.empty())
        return true;
    if (!ensureOpen())
        return false;
    endRead();  // a write needs a transaction of its own
    m_unknownCounters.clear();
    struct Writing
    {
        std::atomic<bool> &flag;
        explicit Writing(std::atomic<bool> &f) : flag(f) { flag = true; }
        ~Writing() { flag = false; }
    } writing(m_writing);
    int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        fail(reasonOf(rc, m_db), rc);
        return false;
    }
    const int64_t day = today();
    for (const Pending &p : pending) {
        const std::optional<int64_t> id = counterId(p.counter, true);
        if (!id) {
            rc = sqlite3_errcode(m_db);
            break;
        }
        sqlite3_stmt *s = m_st->put;
        sqlite3_bind_blob(s, 1, p.path.constData(), int(p.path.size()), SQLITE_STATIC);
        sqlite3_bind_int64(s, 2, *id);
        sqlite3_bind_int64(s, 3, int64_t(p.stamp.dev));
        sqlite3_bind_int64(s, 4, int64_t(p.stamp.ino));
        sqlite3_bind_int64(s, 5, int64_t(p.stamp.size));
        sqlite3_bind_int64(s, 6, p.stamp.mtimeNs);
        sqlite3_bind_int64(s, 7, p.stamp.ctimeNs);
        sqlite3_bind_int64(s, 8, p.pages);
        sqlite3_bind_int64(s, 9, day);
        rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE)
            break;
        rc = SQLITE_OK;
    }
    for (size_t i = 0; rc == SQLITE_OK && i < seen.size(); ++i) {
        sqlite3_stmt *s = m_st->touch;
        sqlite3_bind_blob(s, 1, seen[i].constData(), int(seen[i].size()), SQLITE_STATIC);
        sqlite3_bind_int64(s, 2, day);
        rc = sqlite3_step(s);
        sqlite3_reset(s);
        rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        if (!sqlite3_get_autocommit(m_db))
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        // Ids handed out inside the rolled-back transaction are gone with it.
        m_counterIds.clear();
        fail(reasonOf(rc, m_db), rc);
        return false;
    }
    return true;
}

}  // namespace search
