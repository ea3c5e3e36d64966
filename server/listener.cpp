#include "server/listener.h"

#include <asio/ip/v6_only.hpp>

namespace Listener {

std::optional<asio::ip::tcp::acceptor> open(asio::io_context& io, std::uint16_t port,
                                            std::error_code& error) {
    for (const auto protocol : {asio::ip::tcp::v6(), asio::ip::tcp::v4()}) {
        asio::ip::tcp::acceptor acceptor(io);
        error = {};
        acceptor.open(protocol, error);
        if (error) {
            continue; // no IPv6 on this machine: try IPv4
        }
        if (protocol == asio::ip::tcp::v6()) {
            acceptor.set_option(asio::ip::v6_only(false), error);
        }
        acceptor.set_option(asio::socket_base::reuse_address(true), error);
        acceptor.bind(asio::ip::tcp::endpoint(protocol, port), error);
        if (!error) {
            acceptor.listen(asio::socket_base::max_listen_connections, error);
        }
        if (!error) {
            return acceptor;
        }
        if (error != asio::error::address_family_not_supported) {
            return std::nullopt; // a real failure for this port; IPv4 would fail the same way
        }
    }
    return std::nullopt;
}

} // namespace Listener
