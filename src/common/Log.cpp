#include "Log.h"

namespace morvane {

Q_LOGGING_CATEGORY(lcMorvane, "morvane", QtWarningMsg)

} // namespace morvane
