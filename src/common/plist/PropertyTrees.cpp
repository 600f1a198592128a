#include "common/plist/PropertyTrees.h"

#include <string>

namespace tirsel::kvl::agent::driver::common {

namespace pt = boost::property_tree;

// The ready-made parts are built once and never destroyed: a conversion running
// on a host's thread while the process exits must not meet a destroyed one.
const pt::ptree& EmptyTree() {
    static const pt::ptree* const empty = new pt::ptree();
    return *empty;
}

pt::ptree& AppendUnnamed(pt::ptree& target) {
    static const pt::ptree::value_type* const entry =
        new pt::ptree::value_type(std::string(), EmptyTree());
    return target.push_back(*entry)->second;
}

pt::ptree& AppendKeyed(pt::ptree& target, std::string_view key) {
    return target.push_back(pt::ptree::value_type(std::string(key), EmptyTree()))->second;
}

bool IsSingleKey(const std::string& key) {
    return !key.empty() && key.find('.') == std::string::npos;
}

}  // namespace tirsel::kvl::agent::driver::common
