#pragma once
// Qt's event loop must never see an exception: every handler that Qt calls
// runs through RunGuarded, which hands whatever it throws to the general
// error report (dz::ReportCurrentException) and returns normally; the result
// says whether the handler ran to its end.

#include "util/errors.h"

#include <utility>

template <typename F>
bool RunGuarded(F &&handler) noexcept
{
    try {
        std::forward<F>(handler)();
        return true;
    } catch (...) {
        try {
            dz::ReportCurrentException();
        } catch (...) {
            // The report itself failed: there is nobody left to tell.
        }
        return false;
    }
}
