#include "shared_script.h"

#include "server_page_files.h"

namespace SharedScript {

// The texts in "Wi‑Fi" carry U+2011 (non-breaking hyphen) on purpose, so the word never breaks across
// lines on a narrow phone.
std::string_view text() {
    return ServerPageFiles::sharedScriptJs;
}

} // namespace SharedScript
