#pragma once
// The commands the main window's menus and buttons route to that live outside the window:
// file actions, export, preferences, help and About. Each is one method here; the window only
// calls them. Tests override them to observe the routing without opening real dialogs.

class frmMain;

class MainCommands
{
public:
    explicit MainCommands(frmMain &window) : m_window(window) {}
    virtual ~MainCommands() = default;
    MainCommands(const MainCommands &) = delete;
    MainCommands &operator=(const MainCommands &) = delete;

    virtual void fileOpen();                  // File > Open, popup Open
    virtual void fileDelete();                // File > Delete, popup Delete, Delete key in the grid
    virtual void fileProperties();            // File > Properties..., popup Properties
    virtual void fileShowContainingFolder();  // File > Show Containing Folder, popup twin
    virtual void exportGrid();                // Tools > Export (an empty grid exports its header)
    virtual void exportButton();              // the Export button: refuses an empty grid first
    virtual void preferences();               // Tools > Preferences...
    virtual void website();                   // Help > Quirewell Website
    virtual void help();                      // Help > Quirewell Help
    virtual void about();                     // Help > About...

protected:
    frmMain &window() const { return m_window; }

private:
    frmMain &m_window;
};
