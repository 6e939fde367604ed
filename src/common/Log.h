#pragma once

#include <QLoggingCategory>

namespace morvane {

// The program's one logging category, "morvane"; every place that ends a request early or
// fails to write says so here. Warnings and worse are shown by default, information only
// with QT_LOGGING_RULES="morvane.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcMorvane)

} // namespace morvane
