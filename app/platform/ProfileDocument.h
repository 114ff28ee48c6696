#pragma once
// An INI file held in memory, with the profile-string rules of the classic desktop API:
// section and key names compare without regard to letter case, a missing file, section or key
// gives the caller's default, a read is cut to the caller's buffer size minus the terminator,
// and a write changes only the one line it concerns (a new key goes to the end of its section,
// a new section to the end of the file). Every other byte of the file, comments and unknown
// keys included, is written back exactly as it was read.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <vector>

namespace platform {

class ProfileDocument {
public:
    // Far larger than any real profile; a bigger file is refused rather than read.
    static constexpr size_t kMaxProfileBytes = 1u << 20;

    ProfileDocument() = default;

    // Reads the file. A missing file gives an empty document and counts as success; a file that
    // exists but cannot be read, is not a regular file or is larger than kMaxProfileBytes is a
    // failure (the document is then empty).
    bool load(const QString &filePath, QString *error = nullptr);
    // Parses text already in memory (UTF-8; a leading byte-order mark is kept but ignored). Bytes
    // that are not UTF-8 read as the escapes of pathToText (FileNames.h), and values written with
    // those escapes become the same bytes again, so a stored path survives a read and a write.
    void setContents(const QByteArray &bytes);
    QByteArray contents() const;

    // The value of section/key, or defaultValue when either is missing. Only the first
    // bufferSize - 1 characters are returned; a buffer size below 1 gives empty text.
    QString value(QStringView section, QStringView key, const QString &defaultValue,
                  int bufferSize) const;
    bool contains(QStringView section, QStringView key) const;

    // Replaces the value, or appends the key at the end of its section, or appends the section.
    // Fails (and changes nothing) for names or values that would break the line structure.
    // Writing the value a key already has leaves its line untouched.
    bool setValue(const QString &section, const QString &key, const QString &value,
                  QString *error = nullptr);

    // Writes the whole document atomically: the old file stays intact if anything fails, and the
    // error names the path and the reason. The folder must exist.
    bool save(const QString &filePath, QString *error = nullptr) const;

private:
    struct Line {
        QByteArray raw;      // the bytes of the line, without '\n' (a '\r' stays)
        enum Kind { Other, Section, Key } kind = Other;
        QString name;        // section or key name, trimmed
        QString value;       // key value, trimmed
    };

    static Line parseLine(const QByteArray &raw, bool first);
    int findSection(QStringView section) const;  // index of the header line, or -1
    int sectionEnd(int header) const;            // index of the next header, or line count
    int findKey(int header, QStringView key) const;
    QByteArray lineEnding() const;
    void endLastLine();
    static bool isBlankLine(const Line &line);

    std::vector<Line> m_lines;
    bool m_endsWithNewline = true;
};

// One-shot forms that read or rewrite the file each call.
QString readProfileString(const QString &section, const QString &key, const QString &defaultValue,
                          int bufferSize, const QString &filePath);
bool writeProfileString(const QString &section, const QString &key, const QString &value,
                        const QString &filePath, QString *error = nullptr);

}  // namespace platform
