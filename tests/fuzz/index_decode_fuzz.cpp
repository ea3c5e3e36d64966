// Feeds arbitrary bytes to IndexFile::decode. A damaged or hostile index may only be refused with
// DecodeError; whatever it accepts must survive being written and read again unchanged, or the next
// save would lose or alter what the library holds.
#include "core/index_file.h"
#include "core/utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

/// Only DecodeError may leave decode, and nothing may leave encode.
[[noreturn]] void unexpected(const char* during, const std::exception& error) {
    std::fprintf(stderr, "property broken: %s threw %s\n", during, error.what());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Library library;
    try {
        library = IndexFile::decode(input);
    } catch (const IndexFile::DecodeError&) {
        return 0;
    } catch (const std::exception& error) {
        unexpected("decode", error);
    }

    std::string written;
    try {
        written = IndexFile::encode(library);
    } catch (const std::exception& error) {
        unexpected("encode", error);
    }
    require(UTF8::isValid(written), "the written index is not valid UTF-8");

    Library reread;
    try {
        reread = IndexFile::decode(written);
    } catch (const IndexFile::DecodeError& error) {
        std::fprintf(stderr, "property broken: the written index does not read back: %s\n", error.what());
        std::abort();
    } catch (const std::exception& error) {
        unexpected("reading the written index", error);
    }
    require(reread == library, "the written index reads back to a different library");
    // One write settles the text: writing what was read back gives the very same bytes.
    require(IndexFile::encode(reread) == written, "writing twice gives different text");
    return 0;
}
