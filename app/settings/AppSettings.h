#pragma once
// The process-wide settings record. Loaded once at start-up (LoadSettings), written only when the
// user confirms Preferences (SaveSettings). Readers use the fields and never the file.

#include <QString>
#include <QStringList>
#include <cstdint>

namespace modGlobal {

// Grid-line style codes as stored in GridStyle.
enum GridLineStyle : uint8_t {
    flexGridNone = 0,
    flexGridFlat = 1,
    flexGridInset = 2,
    flexGridRaised = 3,
    flexGridFlatHorz = 4,
    flexGridInsetHorz = 5,
    flexGridRaisedHorz = 6,
    flexGridFlatVert = 8,
    flexGridInsetVert = 9,
    flexGridRaisedVert = 10,
    flexGridExplorer = 12,
    flexGridExcel = 13,
};

// OLE colour numbers: bit 31 set = system colour index in the low byte, else 0x00BBGGRR.
using OleColor = int32_t;
constexpr OleColor oleSystemColor(uint8_t index) { return static_cast<OleColor>(0x80000000u | index); }

struct SettingsRecord {
    uint8_t GridStyle = 0;
    uint8_t ShowGrid = 0;
    OleColor ForeColor = 0;
    OleColor ForeColorSel = 0;
    OleColor BackColor = 0;
    OleColor BackColorSel = 0;
    OleColor GridColor = 0;
    QString BackPicture;
    QStringList ColumnVisibility;  // one entry per data column; "1" = visible; empty = all visible
    QString StartupFolder;
    QString ExportLocation;
    // Files counted at once by a search; 0 = automatic (the processors, at most 8). More helps
    // on slow network shares.
    int CountingLanes = 0;
    // Page counts of unchanged files are remembered between searches ([General] PageCountCache;
    // 0 turns it off).
    bool PageCountCache = true;

    // The values a missing file or key gives.
    static SettingsRecord defaults()
    {
        SettingsRecord s;
        s.GridStyle = flexGridFlat;
        s.ShowGrid = 1;
        s.ForeColor = oleSystemColor(8);      // window text
        s.ForeColorSel = oleSystemColor(14);  // highlight text
        s.BackColor = oleSystemColor(5);      // window background
        s.BackColorSel = oleSystemColor(13);  // highlight
        s.GridColor = oleSystemColor(15);     // button face
        return s;
    }

    bool operator==(const SettingsRecord &) const = default;
};

// Whether a stored visibility entry shows its column: "1", trailing blanks ignored (" 1" hides
// it). The grid and Preferences both judge entries by this one rule.
bool VisibilityEntryShows(const QString &entry);

// The one instance. Numbers zero and texts empty until LoadSettings fills it.
extern SettingsRecord AppSettings;

}  // namespace modGlobal
