#include "MainCommands.h"

#include "DesktopShell.h"
#include "ExportGrid.h"
#include "FileActions.h"
#include "FileShell.h"
#include "HelpCommands.h"
#include "ResultGrid.h"
#include "dlgAbout.h"
#include "dlgPreferences.h"
#include "frmMain.h"

namespace {

FileActions fileActions(frmMain &w)
{
    return FileActions(*w.vsFiles, &w, systemFileShell());
}

}  // namespace

void MainCommands::fileOpen() { fileActions(window()).Open(); }
void MainCommands::fileDelete() { fileActions(window()).DeleteSelectedFiles(); }
void MainCommands::fileProperties() { fileActions(window()).Properties(); }
void MainCommands::fileShowContainingFolder() { fileActions(window()).ShowContainingFolder(); }
void MainCommands::exportGrid() { ExportGrid(*window().vsFiles, &window()); }
void MainCommands::exportButton() { ExportButtonClicked(*window().vsFiles, &window()); }

void MainCommands::preferences()
{
    frmMain *w = &window();
    ShowPreferences(*w->vsFiles, [w] { w->RefreshGrid(); }, w);
}

void MainCommands::website() { OpenWebsite(systemDesktopShell(), &window()); }
void MainCommands::help() { OpenHelpFile(systemDesktopShell(), &window()); }
void MainCommands::about() { dlgAbout::ShowAbout(systemDesktopShell()); }
