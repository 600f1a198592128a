#include "common/plist/PlistRules.h"

#include <algorithm>
#include <boost/optional.hpp>
#include <boost/property_tree/stream_translator.hpp>
#include <charconv>
#include <iterator>
#include <locale>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/TirselFunctions.h"
#include "common/plist/PropertyTrees.h"
#include "common/plist/TreeEntry.h"
#include "common/plist/XmlEntry.h"

namespace tirsel::kvl::agent::driver::common {

namespace pt = boost::property_tree;

namespace {

// Numbers in a property list are written the "C" way whatever the host's locale.
template <typename T>
pt::stream_translator<char, std::char_traits<char>, std::allocator<char>, T> ClassicTranslator() {
    return pt::stream_translator<char, std::char_traits<char>, std::allocator<char>, T>(
        std::locale::classic());
}

// The stored text of a plain decimal integer within the signed 64-bit range (optional
// blanks, an optional sign, digits, optional blanks), the very text the stream
// conversion writes for it; empty for every other text, which is left to the stream.
boost::optional<std::string> PlainInteger(const std::string& text) {
    constexpr unsigned long long kLowest = 9223372036854775808ULL;  // the magnitude of the minimum
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end && TirselFunctions::IsSpace(*p)) {
        ++p;
    }
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) {
        ++p;
    }
    const char* const digits = p;
    unsigned long long magnitude = 0;
    for (; p != end && *p >= '0' && *p <= '9'; ++p) {
        const auto digit = static_cast<unsigned>(*p - '0');
        if (magnitude > (kLowest - digit) / 10) {
            return boost::none;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (p == digits || (!negative && magnitude == kLowest)) {
        return boost::none;
    }
    while (p != end && TirselFunctions::IsSpace(*p)) {
        ++p;
    }
    if (p != end) {
        return boost::none;
    }
    char written[24];
    char* last = written;
    if (negative && magnitude != 0) {
        *last++ = '-';
    }
    last = std::to_chars(last, std::end(written), magnitude).ptr;
    return std::string(written, last);
}

// An integer text above the signed 64-bit range but within the unsigned one, e.g. a
// registry value with its top bit set; empty for every other text.
boost::optional<unsigned long long> UnsignedBeyondSignedRange(const std::string& text) {
    const std::locale& classic = std::locale::classic();
    const auto first = std::find_if(text.begin(), text.end(),
                                    [&classic](char c) { return !std::isspace(c, classic); });
    // The stream reads "-1" as the largest unsigned value; a minus sign is never unsigned.
    if (first == text.end() || *first == '-') {
        return boost::none;
    }
    return ClassicTranslator<unsigned long long>().get_value(text);
}

// put(key, text) without building a path for the common single-part key.
void PutText(pt::ptree& target, const std::string& key, const std::string& text) {
    if (!IsSingleKey(key)) {
        target.put(key, text);
        return;
    }
    const auto found = target.find(key);
    if (found != target.not_found()) {
        found->second.data() = text;
    } else {
        AppendKeyed(target, key).data() = text;
    }
}

// add_child(key, empty tree), likewise.
pt::ptree& AddChild(pt::ptree& target, const std::string& key) {
    return IsSingleKey(key) ? AppendKeyed(target, key) : target.add_child(key, EmptyTree());
}

// put(key, text as double): a text that does not convert throws the tree's own error.
void StoreReal(pt::ptree& target, const std::string& key, const std::string& text) {
    const boost::optional<double> number = ClassicTranslator<double>().get_value(text);
    if (!number) {
        pt::ptree(text).get_value<double>(ClassicTranslator<double>());
    }
    target.put(key, *number, ClassicTranslator<double>());
}

// put(key, text as long long), likewise; see PlainInteger and UnsignedBeyondSignedRange.
void StoreInteger(pt::ptree& target, const std::string& key, const std::string& text) {
    if (const auto plain = PlainInteger(text)) {
        PutText(target, key, *plain);
    } else if (const auto number = ClassicTranslator<long long>().get_value(text)) {
        target.put(key, *number, ClassicTranslator<long long>());
    } else if (const auto large = UnsignedBeyondSignedRange(text)) {
        target.put(key, *large, ClassicTranslator<unsigned long long>());
    } else {
        pt::ptree(text).get_value<long long>(ClassicTranslator<long long>());
    }
}

// The property-list elements, told apart by name.
enum class Element { kText, kReal, kInteger, kTrue, kFalse, kArray, kDict, kKey, kOther };

Element Classify(std::string_view name) {
    switch (name.size()) {
        case 3:
            return name == "key" ? Element::kKey : Element::kOther;
        case 4:
            if (name == "real") {
                return Element::kReal;
            }
            if (name == "true") {
                return Element::kTrue;
            }
            if (name == "dict") {
                return Element::kDict;
            }
            return name == "date" || name == "data" ? Element::kText : Element::kOther;
        case 5:
            if (name == "array") {
                return Element::kArray;
            }
            return name == "false" ? Element::kFalse : Element::kOther;
        case 6:
            return name == "string" ? Element::kText : Element::kOther;
        case 7:
            return name == "integer" ? Element::kInteger : Element::kOther;
        default:
            return Element::kOther;
    }
}

// put(key, text), as text, double or long long by the element.
void StoreText(Element element, pt::ptree& target, const std::string& key,
               const std::string& text) {
    if (element == Element::kReal) {
        StoreReal(target, key, text);
    } else if (element == Element::kInteger) {
        StoreInteger(target, key, text);
    } else {
        PutText(target, key, text);
    }
}

[[noreturn]] void ThrowUnknownTag() {
    throw std::logic_error("Unknow tag");
}

}  // namespace

template <typename Entry>
void PlistRules<Entry>::InsertEntries(Entry& node, pt::ptree& target) {
    for (Entry member; node.Next(member);) {
        InsertValue(member, target);
    }
}

template <typename Entry>
void PlistRules<Entry>::InsertValue(Entry& element, pt::ptree& target) {
    const std::string_view name = element.Name();
    switch (Classify(name)) {
        case Element::kText:
        case Element::kReal:
        case Element::kInteger:
            element.CopyTo(AppendUnnamed(target));
            break;
        case Element::kTrue:
        case Element::kFalse:
            // The elements are empty; the entry carries the same text a dictionary stores.
            AppendUnnamed(target).data().assign(name);
            break;
        case Element::kArray: {
            pt::ptree array;
            InsertEntries(element, array);
            AppendUnnamed(target).swap(array);
            break;
        }
        case Element::kDict: {
            pt::ptree dict;
            LoadXMLData(element, dict);
            AppendUnnamed(target).swap(dict);
            break;
        }
        case Element::kKey:
        case Element::kOther:
            if (name != XmlEntry::kAttributesKey) {
                ThrowUnknownTag();
            }
            break;
    }
}

template <typename Entry>
void PlistRules<Entry>::LoadXMLData(Entry& dict, pt::ptree& target) {
    std::string key;
    bool pending = false;
    for (Entry entry; dict.Next(entry);) {
        const std::string_view name = entry.Name();
        const Element element = Classify(name);
        if (!pending) {
            // Anything but a key where a key belongs is passed over.
            if (element == Element::kKey) {
                entry.ReadText(key);
                pending = true;
            }
            continue;
        }

        switch (element) {
            case Element::kText:
            case Element::kReal:
            case Element::kInteger: {
                std::string text;
                entry.ReadText(text);
                StoreText(element, target, key, text);
                break;
            }
            case Element::kTrue:
            case Element::kFalse:
                // The text the tree writes for a boolean.
                PutText(target, key, std::string(name));
                break;
            case Element::kArray: {
                pt::ptree array;
                InsertEntries(entry, array);
                AddChild(target, key).swap(array);
                break;
            }
            case Element::kDict: {
                pt::ptree nested;
                LoadXMLData(entry, nested);
                AddChild(target, key).swap(nested);
                break;
            }
            case Element::kKey:
            case Element::kOther:
                ThrowUnknownTag();
        }
        pending = false;
    }
}

template class PlistRules<TreeEntry>;
template class PlistRules<XmlEntry>;

}  // namespace tirsel::kvl::agent::driver::common
