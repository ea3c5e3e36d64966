#include "core/share.h"

#include <gtest/gtest.h>

#include <cmath>
#include <unordered_set>

TEST(ShareTest, ActiveUntilStrictlyBeforeExpiryAndNeverOnceStopped) {
    Share s;
    EXPECT_TRUE(s.isActive(Date{1e12}));
    s.expires = Date{100};
    EXPECT_TRUE(s.isActive(Date{99.999}));
    EXPECT_FALSE(s.isActive(Date{100}));
    s.stopped = Date{5};
    EXPECT_FALSE(s.isActive(Date{0}));
}

TEST(ShareDurationTest, ExpiryLabelAndId) {
    const Date t{786000000.5};
    EXPECT_EQ(ShareDuration(ShareDuration::hour).expiry(t), Date{786003600.5});
    EXPECT_EQ(ShareDuration(ShareDuration::day).expiry(t), Date{786086400.5});
    EXPECT_FALSE(ShareDuration(ShareDuration::untilStopped).expiry(t));
    EXPECT_EQ(ShareDuration(ShareDuration::hour).label(), "1 hour");
    EXPECT_EQ(ShareDuration(ShareDuration::day).label(), "1 day");
    EXPECT_EQ(ShareDuration(ShareDuration::untilStopped).label(), "Until I stop");
    for (const auto duration : ShareDuration::allCases) {
        EXPECT_EQ(ShareDuration::fromID(duration.id()), duration);
    }
    EXPECT_EQ(ShareDuration::allCases[2].id(), "untilStopped");
    EXPECT_FALSE(ShareDuration::fromID("Hour"));
}

TEST(ShareTargetTest, EqualityAndHashingFollowCaseAndId) {
    EXPECT_EQ(ShareTarget::folder(), ShareTarget::folder(std::nullopt));
    EXPECT_NE(ShareTarget::folder(), ShareTarget::folder(std::string("")));
    EXPECT_NE(ShareTarget::item("x"), ShareTarget::bundle("x"));
    EXPECT_NE(ShareTarget::folder(std::string("x")), ShareTarget::item("x"));
    const std::unordered_set<ShareTarget> set{ShareTarget::folder(),  ShareTarget::folder(std::string("x")),
                                              ShareTarget::item("x"), ShareTarget::bundle("x"),
                                              ShareTarget::inbox(),   ShareTarget::item("x")};
    EXPECT_EQ(set.size(), 5u);
    EXPECT_TRUE(set.contains(ShareTarget::bundle("x")));
}

TEST(DateTest, ReferenceDateAndISO8601) {
    EXPECT_EQ(Date::fromUnix(978307200).sinceReferenceDate, 0);
    EXPECT_EQ(Date{0}.iso8601(), "2001-01-01T00:00:00Z");
    EXPECT_EQ(Date{-0.5}.iso8601(), "2000-12-31T23:59:59Z");
    EXPECT_EQ(Date{86400 * 365 + 3661.9}.iso8601(), "2002-01-01T01:01:01Z");
    // Whatever a damaged index holds, the text stays a date.
    EXPECT_EQ(Date{1e300}.iso8601(), "9999-12-31T23:59:59Z");
    EXPECT_EQ(Date{-1e300}.iso8601(), "0000-01-01T00:00:00Z");
    EXPECT_EQ(Date{std::nan("")}.iso8601(), "1970-01-01T00:00:00Z");
}
