#include "app/system/network_watcher.h"

#include "app/system/local_network.h"
#include "core/unique_fd.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

/// Runs the event loop until `done` holds or `limit` passes; whether it held.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 2000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

/// Runs the event loop for `duration`, for checks that something does not happen.
void spin(std::chrono::milliseconds duration) {
    waitFor([] { return false; }, duration);
}

/// A network namespace of the test's own, deleted with everything in it when the object goes away.
class TestNamespace {
public:
    TestNamespace()
        : name_("tesk-test-" + std::to_string(::getpid())) {
        created_ = run("ip netns add " + name_ + " 2>/dev/null");
    }
    ~TestNamespace() {
        if (created_) {
            run("ip netns del " + name_);
        }
    }
    TestNamespace(const TestNamespace&) = delete;
    TestNamespace& operator=(const TestNamespace&) = delete;

    bool created() const { return created_; }
    const std::string& name() const { return name_; }

    /// `ip -n <namespace> <arguments>`, quietly; whether it succeeded.
    bool ip(const std::string& arguments) const {
        return run("ip -n " + name_ + " " + arguments + " >/dev/null");
    }

    /// Calls `work` with the calling thread inside the namespace and returns its result.
    template <typename Work>
    auto inside(Work work) const {
        const UniqueFd home(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
        const UniqueFd target(::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC));
        if (!home || !target || ::setns(target.get(), CLONE_NEWNET) != 0) {
            throw std::runtime_error("cannot enter the network namespace " + name_);
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

private:
    std::string name_;
    bool created_ = false;
};

class NetworkWatcherNamespaceTest : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root to create a network namespace";
        }
        if (!space.created()) {
            GTEST_SKIP() << "`ip netns add` failed: no iproute2 or no namespace support";
        }
    }

    std::optional<std::string> address() const { return space.inside(&LocalNetwork::address); }
    std::unique_ptr<NetworkWatcher> watch(QObject* context) {
        auto watcher =
            space.inside([&] { return std::make_unique<NetworkWatcher>(context, [this] { ++calls; }); });
        EXPECT_TRUE(watcher->watching());
        EXPECT_TRUE(waitFor([&] { return calls == 1; })) << "no first report";
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

    int before = calls;
    ASSERT_TRUE(space.ip("link add eth7 type veth peer name v7") && space.ip("link set v7 up") &&
                space.ip("link set eth7 up") && space.ip("addr add 10.77.0.5/24 dev eth7") &&
                space.ip("route add default via 10.77.0.1 dev eth7"));
    EXPECT_TRUE(waitFor([&] { return calls > before; })) << "no report of the new interface";
    // The kernel marks a link running a moment after it comes up.
    EXPECT_TRUE(waitFor([&] { return address() == "10.77.0.5"; })) << address().value_or("none");

    before = calls;
    ASSERT_TRUE(space.ip("addr del 10.77.0.5/24 dev eth7") && space.ip("addr add 10.77.0.9/24 dev eth7"));
    EXPECT_TRUE(waitFor([&] { return calls > before; })) << "no report of the changed address";
    EXPECT_EQ(address(), "10.77.0.9");

    before = calls;
    ASSERT_TRUE(space.ip("addr del 10.77.0.9/24 dev eth7"));
    EXPECT_TRUE(waitFor([&] { return calls > before; })) << "no report of the removed address";
    EXPECT_FALSE(address());
}

TEST_F(NetworkWatcherNamespaceTest, NothingArrivesAfterTheContextOrWatcherGoesAmidChanges) {
    auto context = std::make_unique<QObject>();
    auto watcher = watch(context.get());
    ASSERT_TRUE(space.ip("link add eth8 type veth peer name v8"));
    std::thread flapping([&] {
        run("for i in $(seq 40); do ip -n " + space.name() + " link set eth8 up; ip -n " + space.name() +
            " link set eth8 down; done");
    });
    EXPECT_TRUE(waitFor([&] { return calls > 1; })) << "the flapping link was not reported";
    context.reset();
    const int atContextEnd = calls;
    spin(100ms);
    watcher.reset();
    flapping.join();
    spin(100ms);
    EXPECT_EQ(calls, atContextEnd);
}

TEST(NetworkWatcherTest, QueuedReportsAreDroppedWhenTheContextOrWatcherGoes) {
    int kept = 0;
    int afterContext = 0;
    int afterWatcher = 0;
    QObject keptContext;
    auto goneContext = std::make_unique<QObject>();
    QObject context;
    NetworkWatcher control(&keptContext, [&] { ++kept; });
    NetworkWatcher orphan(goneContext.get(), [&] { ++afterContext; });
    auto destroyed = std::make_unique<NetworkWatcher>(&context, [&] { ++afterWatcher; });
    if (!control.watching()) {
        GTEST_SKIP() << "no route socket here";
    }
    // Let the first reports be posted before either goes, without running the loop that delivers them.
    std::this_thread::sleep_for(100ms);
    goneContext.reset();
    destroyed.reset();
    EXPECT_TRUE(waitFor([&] { return kept == 1; }));
    spin(100ms);
    EXPECT_EQ(kept, 1);
    EXPECT_EQ(afterContext, 0);
    EXPECT_EQ(afterWatcher, 0);
}
