#pragma once
// Matching a file name against one DOS-style wildcard pattern, as file dialogs and shells on the
// classic desktop do it.

#include <QStringView>

namespace platform {

// Letter case is ignored. "*" matches any run of characters (none, and dots, included), "?"
// exactly one character, anything else itself. Blanks at the start of the pattern are skipped;
// other blanks must match. The pattern "*.*" matches every name, one without a dot included.
// Runs in time proportional to name length times pattern length, whatever the pattern.
bool pathMatchSpec(QStringView name, QStringView pattern);

}  // namespace platform
