#include "AppSettings.h"

namespace modGlobal {

SettingsRecord AppSettings;

}  // namespace modGlobal
