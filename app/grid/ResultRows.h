#pragma once
// The result grid's rows as the search found them: per file its name, a shared entry for its
// folder, size in bytes, modification time and page result. The seven cell texts are made when
// something asks for them (painting, export, accessibility, textMatrix); sorting, selection totals
// and file actions use the facts themselves. No widgets here.

#include "FlexGridRowValues.h"
#include "SearchCore.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

enum ResultColumn {
    ColFileName = 0,
    ColLocation = 1,
    ColSize = 2,
    ColModifiedDate = 3,
    ColPages = 4,
    ColFullPath = 5,  // hidden: the key by which file actions find the file
    ColSizeKb = 6,    // hidden: size in whole kilobytes, "###,###,##0"
    ResultColumnCount = 7,
};

class ResultRows : public FlexGridRowValues
{
public:
    static constexpr uint32_t kNone = UINT32_MAX;

    ResultRows();
    ~ResultRows() override;

    // Keeps the file's facts and returns the id of its row; kNone when the file's path is not its
    // folder and name joined (such a file is kept as text by the caller).
    uint32_t add(const search::CountedFile &file);

    QByteArray path(uint32_t id) const;  // exact bytes
    QByteArray name(uint32_t id) const;  // exact bytes
    search::FileType type(uint32_t id) const { return search::FileType(m_facts[id].type); }
    // Page count (>= 0) or a result code; meaningless for FileType::Other.
    int32_t pages(uint32_t id) const { return m_facts[id].pages; }
    size_t size() const { return m_facts.size(); }

    // FlexGridRowValues
    QString text(uint32_t id, int col) const override;
    QString toolTip(uint32_t id, int col) const override;
    bool sortKeys(const std::vector<uint32_t> &ids, int col, int setting, const QString &dateFormat,
                  sortkeys::ColumnKeys &keys) const override;
    void clear() override;

    // Heap bytes held for the rows (for the benchmark).
    size_t storageBytes() const;

    // The texts as the grid shows them. sizeKbText: digit groups of the user's locale, at least one
    // digit ("1,025"); modifiedDateText: "MM/dd/yyyy hh:mm AP" with the locale's separators and
    // AM/PM texts.
    static qint64 kilobytes(uint64_t bytes) { return qint64(bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0)); }
    static QString sizeKbText(qint64 kilobytes);
    static QString sizeText(const QString &sizeKb) { return sizeKb + QStringLiteral(" KB"); }
    static QString modifiedDateText(const QDateTime &time);
    static QString modifiedDateFormat();
    static QString pagesText(search::FileType type, int32_t pages);
    static QString pagesReason(search::FileType type, int32_t pages);

private:
    enum Flag : uint8_t {
        FactsKnown = 1,
        ModifiedValid = 2,
        JoinedWithSeparator = 4,  // path = folder + "/" + name, else folder + name
    };
    struct Facts {
        uint32_t name = 0;    // offset into the name chunks
        uint32_t folder = 0;  // index into m_folders
        int64_t size = 0;     // bytes
        int64_t modifiedMs = 0;  // the local date and time shown, as milliseconds from 1970-01-01 00:00
        int32_t pages = 0;
        uint16_t nameLength = 0;
        uint8_t type = 0;
        uint8_t flags = 0;
    };
    struct Folder {
        QByteArray bytes;
        QString location;  // as shown
    };

    uint32_t folderIndex(const QByteArray &folder);
    uint32_t storeName(const QByteArray &name);
    const char *nameData(const Facts &f) const;
    QString dateText(const Facts &f) const;
    static int64_t shownMs(const QDateTime &time);
    static QDateTime fromShownMs(int64_t ms);

    std::vector<Facts> m_facts;
    std::vector<Folder> m_folders;
    QHash<QByteArray, uint32_t> m_folderIndex;
    uint32_t m_lastFolder = kNone;
    // Names live in fixed-size chunks so that appending never moves or doubles what is kept.
    static constexpr uint32_t kChunkBytes = 1u << 20;
    std::vector<std::unique_ptr<char[]>> m_nameChunks;
    uint32_t m_chunkUsed = kChunkBytes;
    // Files of a folder often share their minute, and formatting by the locale is the dearest
    // part of a row.
    mutable int64_t m_lastMinute = INT64_MIN;
    mutable QString m_lastMinuteText;
};
