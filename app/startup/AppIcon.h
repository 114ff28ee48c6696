#pragma once
// The application icon (the same drawing the icon theme gets when the program is installed),
// for the window frames and task switchers.

#include <QIcon>

QIcon ApplicationIcon();
