// The busy cursor for the whole application while a scope runs.
#pragma once

#include "base/ScopeExit.h"

#include <QApplication>

namespace zephyrine::app {

[[nodiscard]] inline auto BusyCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    return base::ScopeExit([] { QApplication::restoreOverrideCursor(); });
}

}  // namespace zephyrine::app
