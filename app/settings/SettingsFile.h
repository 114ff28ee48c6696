#pragma once
// Settings.ini: the loader and saver of AppSettings. The file is in the Settings folder beside the
// program when that can be written (a portable copy), else in the user's configuration folder.

#include "AppSettings.h"

#include <QString>

class QWidget;

namespace platform {
class ProfileDocument;
}

namespace modGlobal {

// The folder of the running executable, unless a test has pointed it elsewhere.
QString ProgramFolder();
// Points ProgramFolder() at another folder; empty text goes back to the executable's folder.
void SetProgramFolderOverride(const QString &folder);

// ProgramFolder() + "/Settings/Settings.ini" when the program runs from a folder of its own (not
// an installed layout, ProgramLayout.h) and its Settings folder is writable, or can be created;
// otherwise $XDG_CONFIG_HOME/quirewell/Settings.ini (default ~/.config). Reading and writing use
// the same path, so a file written once is found again.
QString SettingsFilePath();

// The same choice from given facts. configHome: $XDG_CONFIG_HOME as set (a relative one is
// ignored), home: $HOME.
struct SettingsPlace {
    QString programFolder;
    bool installed = false;
    bool programSideWritable = false;  // the Settings folder, or the program folder when it is missing
    QString configHome;
    QString home;
};
QString ChooseSettingsFilePath(const SettingsPlace &place);

// Reads the eleven keys in their fixed order into `into`. On the first value that cannot be
// converted it stops and returns false with a short description in *error; the keys read
// before it keep their new values. A missing file, section or key gives the default.
// Paths (BackPicture, StartupFolder, ExportLocation) keep bytes that are not UTF-8 as the escapes
// of platform::pathToText, so writing them back gives the same bytes.
bool ReadSettingsFile(const QString &path, SettingsRecord &into, QString *error = nullptr);

// Writes all eleven keys into the file in one atomic replacement, keeping every other line of
// an existing file. Creates the folder when it is missing.
bool WriteSettingsFile(const QString &path, const SettingsRecord &settings, QString *error = nullptr);

// Reads the file into doc for a change of some of its keys, creating its folder when missing.
bool LoadForUpdate(const QString &path, platform::ProfileDocument &doc, QString *error = nullptr);

// Start-up: fills AppSettings from SettingsFilePath(). On failure shows
// "Error occured while reading setting parameters." with the description and returns false.
bool LoadSettings();

// Writes AppSettings to SettingsFilePath(). On failure shows "Unable to save settings." with
// the description and returns false; AppSettings keeps its values either way.
bool SaveSettings(QWidget *parent = nullptr);

}  // namespace modGlobal
