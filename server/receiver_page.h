#pragma once

#include <string_view>

/// The share page: the same document for every share. It holds no data; its script fetches "api" (the
/// share's JSON document) and draws the listing, the breadcrumbs and the send bar in the browser.
namespace ReceiverPage {

/// The whole document, built once; safe from any thread.
std::string_view html();

/// The page's own script, which follows SharedScript::text() inside the page's one script element.
std::string_view script();

} // namespace ReceiverPage
