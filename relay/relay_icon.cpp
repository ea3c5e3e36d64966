#include "relay/relay_icon.h"

#include "relay/png_encoder.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// The mark: two pieces of one disc, centre (138, 128), radius 104. The left piece ends at x = 110; the
// right one starts at x = 132 and has a notch whose tip sits at the centre, its sides at 45 degrees.
constexpr double centreX = 138;
constexpr double centreY = 128;
constexpr double radius = 104;
constexpr double leftEdge = 110;
constexpr double rightEdge = 132;

constexpr std::array<double, 3> background{0, 122, 255};
constexpr std::array<double, 3> foreground{255, 255, 255};
/// The mark's square within the icon, lifted 2 px above centre so it looks centred.
constexpr double markSide = 104;
constexpr double markLeft = (RelayIcon::size - markSide) / 2;
constexpr double markTop = (RelayIcon::size - markSide) / 2 - 2;
/// Samples per pixel along each axis: 16 per pixel smooth the edges enough at this size.
constexpr int samples = 4;

std::vector<std::uint8_t> render() {
    const double scale = markSide / 256;
    std::vector<std::uint8_t> rgb;
    rgb.reserve(std::size_t{RelayIcon::size} * RelayIcon::size * 3);
    for (int y = 0; y < RelayIcon::size; ++y) {
        for (int x = 0; x < RelayIcon::size; ++x) {
            int covered = 0;
            for (int sy = 0; sy < samples; ++sy) {
                for (int sx = 0; sx < samples; ++sx) {
                    const double u = (x + (sx + 0.5) / samples - markLeft) / scale;
                    const double v = (y + (sy + 0.5) / samples - markTop) / scale;
                    covered += RelayIcon::markContains(u, v) ? 1 : 0;
                }
            }
            const double alpha = static_cast<double>(covered) / (samples * samples);
            for (std::size_t channel = 0; channel < 3; ++channel) {
                const double value =
                    background[channel] + (foreground[channel] - background[channel]) * alpha;
                rgb.push_back(static_cast<std::uint8_t>(std::lround(value)));
            }
        }
    }
    return rgb;
}

} // namespace

namespace RelayIcon {

bool markContains(double u, double v) {
    const double dx = u - centreX;
    const double dy = v - centreY;
    if (dx * dx + dy * dy > radius * radius) {
        return false;
    }
    if (u < leftEdge) {
        return true;
    }
    return u > rightEdge && !(dx > std::abs(dy));
}

const std::string& png() {
    static const std::string encoded = [] {
        const auto rgb = render();
        return PNGEncoder::encodeRGB(size, size, rgb);
    }();
    return encoded;
}

} // namespace RelayIcon
