#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace grellan::testing {

// Whether some step of an acquisition trail or report contains `text`.
inline bool HasStep(const std::vector<std::string>& steps, const std::string& text) {
    return std::any_of(steps.begin(), steps.end(), [&](const std::string& step) {
        return step.find(text) != std::string::npos;
    });
}

}  // namespace grellan::testing
