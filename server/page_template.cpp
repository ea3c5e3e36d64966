#include "page_template.h"

#include "page_style.h"

#include <algorithm>
#include <stdexcept>

namespace {

std::string substituted(std::string_view page, PageTemplate::Values values, bool escape) {
    std::string out;
    out.reserve(page.size());
    std::size_t from = 0;
    for (auto open = page.find("{{"); open != std::string_view::npos; open = page.find("{{", from)) {
        const auto close = page.find("}}", open + 2);
        if (close == std::string_view::npos) {
            break;
        }
        const auto name = page.substr(open + 2, close - open - 2);
        const auto value =
            std::find_if(values.begin(), values.end(), [&](const auto& v) { return v.first == name; });
        if (value == values.end()) {
            throw std::logic_error("page placeholder without a value: " + std::string(name));
        }
        out += page.substr(from, open - from);
        out += escape ? PageStyle::escaped(value->second) : std::string(value->second);
        from = close + 2;
    }
    out += page.substr(from);
    return out;
}

} // namespace

namespace PageTemplate {

std::string filled(std::string_view page, Values values) {
    return substituted(page, values, true);
}

std::string spliced(std::string_view page, Values values) {
    return substituted(page, values, false);
}

} // namespace PageTemplate
