#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <optional>
#include <system_error>

/// Opening listening sockets the way both of our servers want them.
namespace Listener {

/// An acceptor listening on `port` (0: any), dual-stack where the machine has IPv6, else IPv4 only,
/// with the address reusable so that a restarted server takes its port back while old connections sit
/// in TIME_WAIT. Nothing, with `error` set, when the port cannot be used.
std::optional<asio::ip::tcp::acceptor> open(asio::io_context& io, std::uint16_t port, std::error_code& error);

} // namespace Listener
