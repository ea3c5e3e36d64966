#pragma once

#include <string>
#include <string_view>

/// What every page the server sends shares: the head with its theme, the top bar with the brand mark,
/// and the notice page. Pure text builders, safe from any thread.
namespace PageStyle {

/// From "<!doctype html>" to "</head>". `title`, `extra` and `htmlAttributes` are inserted as they are:
/// callers escape what needs escaping. `htmlAttributes` is empty or attributes each starting with a
/// space.
std::string head(std::string_view title, std::string_view extra = "", std::string_view htmlAttributes = "");

/// The top bar: the brand mark with "Tesk", and the reachability light with the Mac's name.
std::string_view topBar();

/// The brand mark as inline SVG.
std::string_view brandMark();

/// The one style sheet of every page, light and dark.
std::string_view styleSheet();

/// `text` safe inside elements and quoted attributes: & < > " and ' as character references.
std::string escaped(std::string_view text);

/// A complete page with a heading and a message; both inserted unescaped (callers pass constants).
std::string notice(std::string_view title, std::string_view text);

} // namespace PageStyle
