#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace grellan::testing {

// Whether some step of a report contains `text`.
inline bool HasStep(const std::vector<std::string>& steps, const std::string& text) {
    return std::any_of(steps.begin(), steps.end(), [&](const std::string& step) {
        return step.find(text) != std::string::npos;
    });
}

// The first step of `kind` in a trail of typed steps (acquisition's, the
// fallback's); null when there is none.
template <class Step>
const Step* FindStep(const std::vector<Step>& steps, typename Step::Kind kind) {
    const auto found = std::find_if(steps.begin(), steps.end(),
                                    [&](const Step& step) { return step.kind == kind; });
    return found == steps.end() ? nullptr : &*found;
}

}  // namespace grellan::testing
