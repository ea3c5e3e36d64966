#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

/// An HTTP/1.1 response as a client saw it.
struct HttpReply {
    /// 0 when no whole head arrived or its status line is not HTTP's.
    int status = 0;
    /// The head's lines after the status line, in order, as sent.
    std::vector<std::string> headerLines;
    /// Values by lower-cased name; of a repeated header, the last.
    std::map<std::string, std::string> headers;
    std::string body;
    std::string raw;

    /// A header's value by name in any case; empty when absent.
    std::string header(std::string_view name) const;
};

/// Splits raw response bytes into status, headers and body; never throws on what a server sent.
HttpReply parseHttpReply(std::string_view raw);
