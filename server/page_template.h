#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

/// The pages are files (server/pages/, relay/pages/) with "{{name}}" where a value goes. This is the one
/// step that puts values in, so escaping happens in one place. Safe from any thread.
namespace PageTemplate {

/// Each placeholder's name and its value.
using Values = std::initializer_list<std::pair<std::string_view, std::string_view>>;

/// `page` with every "{{name}}" replaced by its value, escaped as PageStyle::escaped() does. Values are
/// not searched for placeholders again. Throws std::logic_error for a placeholder without a value.
std::string filled(std::string_view page, Values values);

/// The same with values put in as they are: markup from other page files, or text the caller escaped.
std::string spliced(std::string_view page, Values values);

} // namespace PageTemplate
