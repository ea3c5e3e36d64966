#include "receiver_page.h"

#include "page_style.h"
#include "server_page_files.h"
#include "shared_script.h"

#include <string>

// The send bar sits outside <main> so the script's gone() can replace main alone; "Wi‑Fi" in the script
// carries U+2011 (non-breaking hyphen) on purpose.
namespace ReceiverPage {

std::string_view html() {
    // Function-local statics are initialised once, thread-safely.
    static const std::string page = PageStyle::head("Tesk") + "<body>" + std::string(PageStyle::topBar()) +
                                    std::string(ServerPageFiles::receiverPageHtml) + "<script>" +
                                    std::string(SharedScript::text()) + std::string(script()) +
                                    "</script></body></html>";
    return page;
}

std::string_view script() {
    // On its own line after the shared script.
    static const std::string text = "\n" + std::string(ServerPageFiles::receiverPageJs);
    return text;
}

} // namespace ReceiverPage
