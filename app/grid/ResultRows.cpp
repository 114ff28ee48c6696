#include "ResultRows.h"

#include "FileNames.h"
#include "FlexGridEnums.h"
#include "PageResult.h"

#include <QLocale>

#include <algorithm>
#include <cstring>

namespace {

// First separator character of a locale format ("M/d/yy" gives "/"), or the fallback.
QChar separatorIn(const QString &format, QChar fallback)
{
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && !c.isLetter() && !c.isSpace())
            return c;
    }
    return fallback;
}

int64_t floorDiv(int64_t a, int64_t b)
{
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

bool descendingSetting(int setting)
{
    return setting == FlexGridEnums::SortGenericDescending || setting == FlexGridEnums::SortNumericDescending ||
           setting == FlexGridEnums::SortStringNoCaseDescending || setting == FlexGridEnums::SortStringDescending ||
           setting == FlexGridEnums::SortDateDescending;
}

bool numberSetting(int setting)
{
    return setting == FlexGridEnums::SortGenericAscending || setting == FlexGridEnums::SortGenericDescending ||
           setting == FlexGridEnums::SortNumericAscending || setting == FlexGridEnums::SortNumericDescending;
}

bool dateSetting(int setting)
{
    return setting == FlexGridEnums::SortDateAscending || setting == FlexGridEnums::SortDateDescending;
}

}  // namespace

ResultRows::ResultRows() = default;
ResultRows::~ResultRows() = default;

QString ResultRows::sizeKbText(qint64 kilobytes)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(kilobytes);
}

QString ResultRows::modifiedDateFormat()
{
    const QLocale locale;
    const QChar dateSep = separatorIn(locale.dateFormat(QLocale::ShortFormat), u'/');
    const QChar timeSep = separatorIn(locale.timeFormat(QLocale::ShortFormat), u':');
    auto literal = [](QChar c) {
        // Letters would read as format fields; keep any odd separator literal.
        return c.isLetterOrNumber() ? QStringLiteral("'") + c + QStringLiteral("'") : QString(c);
    };
    return QStringLiteral("MM") + literal(dateSep) + QStringLiteral("dd") + literal(dateSep) + QStringLiteral("yyyy hh") +
           literal(timeSep) + QStringLiteral("mm AP");
}

QString ResultRows::modifiedDateText(const QDateTime &time)
{
    return QLocale().toString(time, modifiedDateFormat());
}

QString ResultRows::pagesText(search::FileType type, int32_t pages)
{
    if (type == search::FileType::Other)
        return {};
    // A missing counter, a failed call and a rejected file all read "Error" for this file only.
    return pages >= 0 ? QString::number(pages) : QStringLiteral("Error");
}

QString ResultRows::pagesReason(search::FileType type, int32_t pages)
{
    if (type == search::FileType::Other)
        return {};
    return search::pageResultReason(type == search::FileType::Tiff ? search::CounterKind::Tiff
                                                                   : search::CounterKind::Pdf,
                                    pages);
}

uint32_t ResultRows::folderIndex(const QByteArray &folder)
{
    // Files come folder by folder: the last folder answers almost every time.
    if (m_lastFolder != kNone && m_folders[m_lastFolder].bytes == folder)
        return m_lastFolder;
    auto it = m_folderIndex.constFind(folder);
    if (it != m_folderIndex.constEnd())
        return m_lastFolder = it.value();
    m_folders.push_back({folder, platform::pathToDisplay(folder)});
    m_lastFolder = uint32_t(m_folders.size() - 1);
    m_folderIndex.insert(folder, m_lastFolder);
    return m_lastFolder;
}

uint32_t ResultRows::storeName(const QByteArray &name)
{
    const auto length = uint32_t(name.size());
    if (m_chunkUsed + length > kChunkBytes) {
        m_nameChunks.push_back(std::make_unique<char[]>(kChunkBytes));
        m_chunkUsed = 0;
    }
    const uint32_t offset = uint32_t(m_nameChunks.size() - 1) * kChunkBytes + m_chunkUsed;
    std::memcpy(m_nameChunks.back().get() + m_chunkUsed, name.constData(), length);
    m_chunkUsed += length;
    return offset;
}

const char *ResultRows::nameData(const Facts &f) const
{
    return m_nameChunks[f.name / kChunkBytes].get() + f.name % kChunkBytes;
}

uint32_t ResultRows::add(const search::CountedFile &file)
{
    const qsizetype folderSize = file.folder.size();
    const qsizetype nameSize = file.name.size();
    // The path must be the folder and the name joined, as the walk makes it, to be rebuilt from them.
    if (nameSize > 0xFFFF || file.path.size() < folderSize + nameSize || !file.path.startsWith(file.folder) ||
        !file.path.endsWith(file.name))
        return kNone;
    uint8_t flags = 0;
    if (file.path.size() == folderSize + 1 + nameSize && file.path.at(folderSize) == '/')
        flags |= JoinedWithSeparator;
    else if (file.path.size() != folderSize + nameSize)
        return kNone;
    if (m_facts.size() >= kNone - 1 || uint64_t(m_nameChunks.size()) * kChunkBytes + uint64_t(nameSize) >= UINT32_MAX)
        return kNone;

    Facts f;
    f.folder = folderIndex(file.folder);
    f.name = storeName(file.name);
    f.nameLength = uint16_t(nameSize);
    f.type = uint8_t(file.type);
    f.pages = file.pages;
    if (file.factsKnown) {
        flags |= FactsKnown;
        f.size = int64_t(file.size);
        if (file.modified.isValid()) {
            flags |= ModifiedValid;
            f.modifiedMs = shownMs(file.modified);
        }
    }
    f.flags = flags;
    m_facts.push_back(f);
    return uint32_t(m_facts.size() - 1);
}

QByteArray ResultRows::name(uint32_t id) const
{
    const Facts &f = m_facts[id];
    return QByteArray(nameData(f), f.nameLength);
}

QByteArray ResultRows::path(uint32_t id) const
{
    const Facts &f = m_facts[id];
    QByteArray out = m_folders[f.folder].bytes;
    if (f.flags & JoinedWithSeparator)
        out += '/';
    out.append(nameData(f), f.nameLength);
    return out;
}

// The date and time as the text shows them (its own clock, local for the walk's times), kept as
// a count: reading the fields is cheap where converting local time to UTC is not, and the
// minute it gives orders files exactly as their texts do.
int64_t ResultRows::shownMs(const QDateTime &time)
{
    constexpr int64_t kUnixEpochJulianDay = 2440588;
    return (time.date().toJulianDay() - kUnixEpochJulianDay) * 86400000 + time.time().msecsSinceStartOfDay();
}

QDateTime ResultRows::fromShownMs(int64_t ms)
{
    constexpr int64_t kUnixEpochJulianDay = 2440588;
    const int64_t day = floorDiv(ms, 86400000);
    return QDateTime(QDate::fromJulianDay(kUnixEpochJulianDay + day), QTime::fromMSecsSinceStartOfDay(int(ms - day * 86400000)));
}

QString ResultRows::dateText(const Facts &f) const
{
    if (!(f.flags & ModifiedValid))
        return modifiedDateText(QDateTime());
    const int64_t minute = floorDiv(f.modifiedMs, 60000);
    if (minute != m_lastMinute) {
        m_lastMinuteText = modifiedDateText(fromShownMs(f.modifiedMs));
        m_lastMinute = minute;
    }
    return m_lastMinuteText;
}

QString ResultRows::text(uint32_t id, int col) const
{
    if (id >= m_facts.size())
        return {};
    const Facts &f = m_facts[id];
    const bool known = f.flags & FactsKnown;
    switch (col) {
    case ColFileName: return platform::pathToDisplay(QByteArray::fromRawData(nameData(f), f.nameLength));
    case ColLocation: return m_folders[f.folder].location;
    case ColSize: return known ? sizeText(sizeKbText(kilobytes(uint64_t(f.size)))) : QString();
    case ColModifiedDate: return known ? dateText(f) : QString();
    case ColPages: return pagesText(search::FileType(f.type), f.pages);
    case ColFullPath: return platform::pathToText(path(id));
    case ColSizeKb: return known ? sizeKbText(kilobytes(uint64_t(f.size))) : QString();
    default: return {};
    }
}

QString ResultRows::toolTip(uint32_t id, int col) const
{
    if (id >= m_facts.size() || col != ColPages)
        return {};
    const Facts &f = m_facts[id];
    return pagesReason(search::FileType(f.type), f.pages);
}

bool ResultRows::sortKeys(const std::vector<uint32_t> &ids, int col, int setting, const QString &dateFormat,
                          sortkeys::ColumnKeys &keys) const
{
    const size_t n = ids.size();
    for (uint32_t id : ids)
        if (id >= m_facts.size())
            return false;
    auto typedKeys = [&](auto classAndValue) {
        keys.descending = descendingSetting(setting);
        keys.cls.resize(n);
        keys.value.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const auto [cls, value] = classAndValue(m_facts[ids[i]]);
            keys.cls[i] = cls;
            keys.value[i] = value;
        }
    };
    switch (col) {
    case ColSize:
    case ColSizeKb:
        // "1,234 KB" and "1,234" read as the number of kilobytes.
        if (!numberSetting(setting))
            return false;
        typedKeys([](const Facts &f) {
            return (f.flags & FactsKnown) ? std::pair<uint8_t, double>(0, double(kilobytes(uint64_t(f.size))))
                                          : std::pair<uint8_t, double>(2, 0);
        });
        return true;
    case ColModifiedDate:
        // The text shows the minute, so files of one minute are equal, as their texts are.
        if (!dateSetting(setting))
            return false;
        typedKeys([](const Facts &f) {
            const bool shown = (f.flags & FactsKnown) && (f.flags & ModifiedValid);
            return shown ? std::pair<uint8_t, double>(0, double(floorDiv(f.modifiedMs, 60000)))
                         : std::pair<uint8_t, double>(2, 0);
        });
        return true;
    case ColPages: {
        if (!numberSetting(setting))
            return false;
        typedKeys([](const Facts &f) {
            if (search::FileType(f.type) == search::FileType::Other)
                return std::pair<uint8_t, double>(2, 0);
            return f.pages >= 0 ? std::pair<uint8_t, double>(0, double(f.pages)) : std::pair<uint8_t, double>(1, 0);
        });
        // Every failed count reads "Error": one text, one key, shared by them all.
        if (std::find(keys.cls.begin(), keys.cls.end(), uint8_t(1)) != keys.cls.end()) {
            const QString error = QStringLiteral("Error");
            const sortkeys::ColumnKeys errorKey =
                sortkeys::buildKeys(1, [&](int) { return QStringView(error); }, setting, dateFormat);
            keys.textAt.assign(n, keys.appendTextKeys(errorKey) + errorKey.textAt.at(0));
        }
        return true;
    }
    case ColLocation: {
        // One key per folder, shared by its files.
        std::vector<uint32_t> slot(m_folders.size(), kNone);
        std::vector<uint32_t> used;
        for (uint32_t id : ids) {
            uint32_t &s = slot[m_facts[id].folder];
            if (s == kNone) {
                s = uint32_t(used.size());
                used.push_back(m_facts[id].folder);
            }
        }
        const sortkeys::ColumnKeys folderKeys = sortkeys::buildKeys(
            int(used.size()), [&](int i) { return QStringView(m_folders[used[size_t(i)]].location); }, setting,
            dateFormat);
        keys.descending = folderKeys.descending;
        keys.cls.resize(n);
        keys.value.resize(n);
        keys.textKeys = folderKeys.textKeys;
        if (!folderKeys.textAt.empty())
            keys.textAt.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const uint32_t s = slot[m_facts[ids[i]].folder];
            keys.cls[i] = folderKeys.cls[s];
            keys.value[i] = folderKeys.value[s];
            if (!folderKeys.textAt.empty())
                keys.textAt[i] = folderKeys.textAt[s];
        }
        return true;
    }
    case ColFileName:
    case ColFullPath: {
        // Names and paths are made from the facts alone, which nothing changes meanwhile.
        keys = sortkeys::buildKeysInParallel(
            int(n),
            [&](int i, QString &scratch) {
                scratch = text(ids[size_t(i)], col);
                return QStringView(scratch);
            },
            setting, dateFormat);
        return true;
    }
    default:
        return false;
    }
}

void ResultRows::clear()
{
    m_facts.clear();
    m_facts.shrink_to_fit();
    m_folders.clear();
    m_folderIndex.clear();
    m_lastFolder = kNone;
    m_nameChunks.clear();
    m_chunkUsed = kChunkBytes;
    m_lastMinute = INT64_MIN;
}

size_t ResultRows::storageBytes() const
{
    size_t bytes = m_facts.capacity() * sizeof(Facts) + m_nameChunks.size() * kChunkBytes;
    for (const Folder &f : m_folders)
        bytes += sizeof(Folder) + size_t(f.bytes.capacity()) + size_t(f.location.capacity()) * 2 + 64;
    return bytes;
}
