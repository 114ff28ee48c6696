#pragma once
// The records the criteria tests work on: the facts of one file met by the folder walk, and the
// values of the criteria controls at one moment.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <filesystem>

namespace search {

struct FoundFile {
    QString name;        // without folder; undecodable bytes replaced for display
    QString fullPath;    // for display and for text-based consumers
    std::filesystem::path nativePath;  // the exact bytes: reopens the file even when the name is not UTF-8
    QString folderPath;  // the holding folder
    bool hidden = false;
    qint64 size = 0;     // bytes
    QDateTime created;   // local time
    QDateTime modified;
    QDateTime accessed;
};

// Tick states of the criteria check boxes as the tests read them.
enum TickState : int { Unticked = 0, Ticked = 1, Greyed = 2 };

// Every text exactly as its control holds it: the tests convert at test time, and a failed
// conversion fails the file.
struct SearchCriteria {
    QString filterText;
    int showHiddenState = Unticked;
    bool dateTestOn = false;
    QString dateKind;          // "Files Created", "Files Modified", "Files Last Accessed"
    bool inTheLastMode = false;
    QString periodCountText;
    QString periodUnit;        // "Day(s)" or anything else (months)
    QDateTime rangeStart;
    QDateTime rangeEnd;
    bool sizeTestOn = false;
    bool atMode = true;
    QString leastOrMost;       // "Least" or anything else (most)
    QString sizeLimitText;
    QString sizeFromText;
    QString sizeToText;
};

// The filter text split into patterns, in order; entries may be empty.
using PatternList = QStringList;

}  // namespace search
