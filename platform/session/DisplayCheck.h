#pragma once

#include <QString>

#include <optional>

// Why no graphical session can be reached, or nothing when one can. Asked before the
// GUI starts, since Qt aborts with a core dump when its display is missing.
namespace DisplayCheck {

std::optional<QString> displayProblem();

} // namespace DisplayCheck
