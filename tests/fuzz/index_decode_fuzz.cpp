// Feeds arbitrary bytes to IndexFile::decode. A damaged or hostile index may only be refused with
// DecodeError; whatever it accepts must survive being written and read again unchanged, or the next
// save would lose or alter what the library holds.
#include "core/index_file.h"
#include "core/utf8.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Library library;
    try {
        library = IndexFile::decode(input);
    } catch (const IndexFile::DecodeError&) {
        return 0;
    }
    // Anything else escaping decode, encode or the second decode ends the run as a crash (libFuzzer
    // reports an uncaught exception with its message), and keeps the input.
    const std::string written = IndexFile::encode(library);
    require(UTF8::isValid(written), "the written index is not valid UTF-8");
    const Library reread = IndexFile::decode(written);
    require(reread == library, "the written index reads back to a different library");
    // One write settles the text: writing what was read back gives the very same bytes.
    require(IndexFile::encode(reread) == written, "writing twice gives different text");
    return 0;
}
