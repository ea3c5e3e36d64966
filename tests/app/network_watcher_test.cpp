// The network watcher over real netlink: in a network namespace of the test's own (root only), each address
// change is reported; reports still queued when the watcher or its context goes are dropped.
#include "app/system/network_watcher.h"

#include "app/system/local_network.h"
#include "core/unique_fd.h"
#include "fake_relay.h"

#include <gtest/gtest.h>

#include <QObject>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace {

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

class NetworkWatcherNamespaceTest : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0 || !run("ip netns add " + space + " 2>/dev/null")) {
            GTEST_SKIP() << "needs root and `ip netns` to create a network namespace";
        }
    }
    void TearDown() override { run("ip netns del " + space + " 2>/dev/null"); }
    /// Runs `work` with the calling thread inside the namespace.
    template <typename Work>
    auto inside(Work work) {
        const UniqueFd home(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
        const UniqueFd target(::open(("/run/netns/" + space).c_str(), O_RDONLY | O_CLOEXEC));
        if (!home || !target || ::setns(target.get(), CLONE_NEWNET) != 0) {
            throw std::runtime_error("cannot enter the network namespace " + space);
        }
        // Back home even if `work` throws; failing that, every later test would run in the wrong namespace.
        const auto goBack = [&](const UniqueFd*) {
            if (::setns(home.get(), CLONE_NEWNET) != 0) {
                std::abort();
            }
        };
        const std::unique_ptr<const UniqueFd, decltype(goBack)> guard(&home, goBack);
        return work();
    }
    std::optional<std::string> address() { return inside(&LocalNetwork::address); }
    std::unique_ptr<NetworkWatcher> watch(QObject* context) {
        auto watcher = inside([&] { return std::make_unique<NetworkWatcher>(context, [this] { ++calls; }); });
        EXPECT_TRUE(watcher->watching());
        EXPECT_TRUE(spinUntil([&] { return calls == 1; }, 2000)) << "no first report";
        return watcher;
    }

    const std::string space = "tesk-test-" + std::to_string(::getpid());
    int calls = 0;
};

} // namespace

TEST_F(NetworkWatcherNamespaceTest, ReportsEachChangeOfTheAddressAndNothingAfterItsContextOrItGoes) {
    auto context = std::make_unique<QObject>();
    auto watcher = watch(context.get());
    const std::pair<std::vector<std::string>, std::optional<std::string>> steps[] = {
        {{"link add eth7 type veth peer name v7", "link set v7 up", "link set eth7 up",
          "addr add 10.77.0.5/24 dev eth7", "route add default via 10.77.0.1 dev eth7"},
         "10.77.0.5"},
        {{"addr del 10.77.0.5/24 dev eth7", "addr add 10.77.0.9/24 dev eth7"}, "10.77.0.9"},
        {{"addr del 10.77.0.9/24 dev eth7"}, std::nullopt},
    };
    for (const auto& [commands, expected] : steps) {
        const int before = calls;
        for (const auto& command : commands) {
            ASSERT_TRUE(run("ip -n " + space + " " + command));
        }
        EXPECT_TRUE(spinUntil([&] { return calls > before; }, 2000)) << "no report for " << commands[0];
        // The kernel marks a link running a moment after it comes up.
        EXPECT_TRUE(spinUntil([&] { return address() == expected; }, 2000)) << address().value_or("none");
    }

    // Amid changes: the context goes first, then the watcher.
    const int settled = calls;
    std::thread flapping([&] {
        run("for i in $(seq 40); do ip -n " + space + " link set eth7 down; ip -n " + space +
            " link set eth7 up; done");
    });
    EXPECT_TRUE(spinUntil([&] { return calls > settled; }, 2000)) << "the flapping link was not reported";
    context.reset();
    const int atContextEnd = calls;
    spinFor(100);
    watcher.reset();
    flapping.join();
    spinFor(100);
    EXPECT_EQ(calls, atContextEnd);
}

TEST(NetworkWatcherTest, QueuedReportsAreDroppedWhenTheContextOrWatcherGoes) {
    int kept = 0;
    int dropped = 0;
    QObject keptContext;
    QObject context;
    auto goneContext = std::make_unique<QObject>();
    NetworkWatcher control(&keptContext, [&] { ++kept; });
    NetworkWatcher orphan(goneContext.get(), [&] { ++dropped; });
    auto destroyed = std::make_unique<NetworkWatcher>(&context, [&] { ++dropped; });
    if (!control.watching()) {
        GTEST_SKIP() << "no route socket here";
    }
    // Let the first reports be posted before either goes, without running the loop that delivers them.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    goneContext.reset();
    destroyed.reset();
    EXPECT_TRUE(spinUntil([&] { return kept == 1; }, 2000));
    spinFor(100);
    EXPECT_EQ(kept + dropped, 1);
}
