#include "server/device_bodies.h"

#include "core/text.h"
#include "core/utf8.h"

#include <nlohmann/json.hpp>

namespace DeviceBodies {

std::string claimName(std::string_view body) {
    // The parser refuses invalid UTF-8 and lone surrogates, so the name is valid text from here on.
    const auto parsed = nlohmann::json::parse(body, nullptr, false);
    if (!parsed.is_object()) {
        return "Phone";
    }
    const auto found = parsed.find("name");
    if (found == parsed.end() || !found->is_string()) {
        return "Phone";
    }
    // Trimmed again once control and format characters are gone so they cannot leave a blank name, and
    // once more after the cut, which can end on white space from the middle of the name.
    const std::string cleaned =
        Text::trimmed(Text::removingControlCharacters(Text::trimmed(found->get_ref<const std::string&>())));
    std::string name = Text::trimmed(Text::prefixScalars(cleaned, maxNameScalars));
    return name.empty() ? "Phone" : name;
}

std::optional<std::string> sentText(std::string_view body) {
    if (body.empty() || body.size() > maxTextBytes || !UTF8::isValid(body) || Text::trimmed(body).empty()) {
        return std::nullopt;
    }
    return std::string(body);
}

} // namespace DeviceBodies
