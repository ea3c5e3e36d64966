// The network watcher over real netlink: in a network namespace of the test's own (root only), each address
// change is reported; reports still queued when the watcher or its context goes are dropped.
#include "app/system/network_watcher.h"

#include "app/system/local_network.h"
#include "core/unique_fd.h"
#include "fake_relay.h"

#include <gtest/gtest.h>

#include <QObject>
#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace {

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

/// A network namespace deleted with everything in it when the object goes away.
class TestNamespace {
public:
    TestNamespace()
        : name("tesk-test-" + std::to_string(::getpid()))
        , created(run("ip netns add " + name + " 2>/dev/null")) {}
    ~TestNamespace() {
        if (created) {
            run("ip netns del " + name);
        }
    }
    /// `ip -n <namespace> <arguments>` for each of `commands`, quietly; whether all succeeded.
    bool ip(const std::vector<std::string>& commands) const {
        return std::all_of(commands.begin(), commands.end(), [&](const std::string& c) {
            return run("ip -n " + name + " " + c + " >/dev/null");
        });
    }
    /// Calls `work` with the calling thread inside the namespace and returns its result.
    template <typename Work>
    auto inside(Work work) const {
        const UniqueFd home(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
        const UniqueFd target(::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC));
        if (!home || !target || ::setns(target.get(), CLONE_NEWNET) != 0) {
            throw std::runtime_error("cannot enter the network namespace " + name);
        }
        struct GoBack {
            int home;
            ~GoBack() {
                if (::setns(home, CLONE_NEWNET) != 0) {
                    std::abort(); // every later test would run in the wrong namespace
                }
            }
        } goBack{home.get()};
        return work();
    }

    const std::string name;
    const bool created;
};

class NetworkWatcherNamespaceTest : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0 || !space.created) {
            GTEST_SKIP() << "needs root and `ip netns` to create a network namespace";
        }
    }
    std::optional<std::string> address() const { return space.inside(&LocalNetwork::address); }
    std::unique_ptr<NetworkWatcher> watch(QObject* context) {
        auto watcher =
            space.inside([&] { return std::make_unique<NetworkWatcher>(context, [this] { ++calls; }); });
        EXPECT_TRUE(watcher->watching());
        EXPECT_TRUE(spinUntil([&] { return calls == 1; }, 2000)) << "no first report";
        return watcher;
    }

    TestNamespace space;
    int calls = 0;
};

} // namespace

TEST_F(NetworkWatcherNamespaceTest, ReportsEachChangeOfTheAddress) {
    QObject context;
    const auto watcher = watch(&context);
    EXPECT_FALSE(address());
    const struct {
        std::vector<std::string> commands;
        std::optional<std::string> address;
    } steps[] = {
        {{"link add eth7 type veth peer name v7", "link set v7 up", "link set eth7 up",
          "addr add 10.77.0.5/24 dev eth7", "route add default via 10.77.0.1 dev eth7"},
         "10.77.0.5"},
        {{"addr del 10.77.0.5/24 dev eth7", "addr add 10.77.0.9/24 dev eth7"}, "10.77.0.9"},
        {{"addr del 10.77.0.9/24 dev eth7"}, std::nullopt},
    };
    for (const auto& step : steps) {
        const int before = calls;
        ASSERT_TRUE(space.ip(step.commands));
        EXPECT_TRUE(spinUntil([&] { return calls > before; }, 2000)) << "no report for " << step.commands[0];
        // The kernel marks a link running a moment after it comes up.
        EXPECT_TRUE(spinUntil([&] { return address() == step.address; }, 2000)) << address().value_or("none");
    }
}

TEST_F(NetworkWatcherNamespaceTest, NothingArrivesAfterTheContextOrWatcherGoesAmidChanges) {
    auto context = std::make_unique<QObject>();
    auto watcher = watch(context.get());
    ASSERT_TRUE(space.ip({"link add eth8 type veth peer name v8"}));
    std::thread flapping([&] {
        run("for i in $(seq 40); do ip -n " + space.name + " link set eth8 up; ip -n " + space.name +
            " link set eth8 down; done");
    });
    EXPECT_TRUE(spinUntil([&] { return calls > 1; }, 2000)) << "the flapping link was not reported";
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
    auto goneContext = std::make_unique<QObject>();
    QObject context;
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
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(dropped, 0);
}
