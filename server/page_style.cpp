#include "page_style.h"

#include "page_template.h"
#include "server_page_files.h"

namespace PageStyle {

std::string head(std::string_view title, std::string_view extra, std::string_view htmlAttributes) {
    return PageTemplate::spliced(ServerPageFiles::headHtml, {{"htmlAttributes", htmlAttributes},
                                                             {"title", title},
                                                             {"extra", extra},
                                                             {"styleSheet", styleSheet()}});
}

std::string_view topBar() {
    // Built once; function-local statics are initialised thread-safely.
    static const std::string bar =
        PageTemplate::spliced(ServerPageFiles::topBarHtml, {{"brandMark", brandMark()}});
    return bar;
}

// Two filled pieces; the notch of the right one points at (146, 128). Sized by the `mark` rule so the
// same markup also fits larger places later.
std::string_view brandMark() {
    return ServerPageFiles::brandMarkSvg;
}

// One rule per line: small enough to send with every page, still readable in a browser's inspector.
// Pages draw their content in script, so this sheet covers every page's classes at once.
std::string_view styleSheet() {
    // The rules start on the line after "<style>".
    static const std::string sheet = "\n" + std::string(ServerPageFiles::styleCss);
    return sheet;
}

std::string notice(std::string_view title, std::string_view text) {
    return head("Tesk") + "<body>" + std::string(topBar()) +
           PageTemplate::spliced(ServerPageFiles::noticeHtml, {{"title", title}, {"text", text}}) +
           "</body></html>";
}

// "&" goes first so the references written for the other characters are not escaped again.
std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace PageStyle
