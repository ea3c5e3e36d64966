// Run with TZ=UTC and LANG=en_US.UTF-8, as ctest sets them.
#include "app/model/wording.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <string>

namespace {

/// 2026-12-06 15:00:00 UTC, a Sunday afternoon.
const Date now = Date::fromUnix(1796569200);

std::string added(double secondsBefore) {
    return Format::added(now.adding(-secondsBefore), now).toStdString();
}

std::string added(Date date, Date at) {
    return Format::added(date, at).toStdString();
}

} // namespace

TEST(FormatTest, UnderAMinuteAndTheFutureAreJustNow) {
    EXPECT_EQ(added(0), "Just now");
    EXPECT_EQ(added(59.9), "Just now");
    EXPECT_EQ(added(-3600), "Just now");
}

TEST(FormatTest, MinutesAreTruncated) {
    EXPECT_EQ(added(60), "1 min ago");
    EXPECT_EQ(added(12 * 60 + 59), "12 min ago");
    EXPECT_EQ(added(3599), "59 min ago");
}

TEST(FormatTest, HoursCountOnlyWithinTheSameDay) {
    EXPECT_EQ(added(3600), "1 h ago");
    EXPECT_EQ(added(3 * 3600 + 1800), "3 h ago");
    // 00:00:00 the same day is still today.
    EXPECT_EQ(added(15 * 3600), "15 h ago");
}

TEST(FormatTest, TheDayBeforeIsYesterdayOnceAnHourHasPassed) {
    const Date justAfterMidnight = Date::fromUnix(1796515200 + 300); // 2026-12-06 00:05 UTC
    // Minutes win over the calendar: ten minutes across midnight are still minutes.
    EXPECT_EQ(added(justAfterMidnight.adding(-600), justAfterMidnight), "10 min ago");
    EXPECT_EQ(added(justAfterMidnight.adding(-2 * 3600), justAfterMidnight), "Yesterday");
    EXPECT_EQ(added(15 * 3600 + 1), "Yesterday");
    EXPECT_EQ(added(39 * 3600), "Yesterday"); // 2026-12-05 00:00
}

TEST(FormatTest, DaysUpToAWeekThenTheDate) {
    EXPECT_EQ(added(39 * 3600 + 1), "2 days ago");
    EXPECT_EQ(added(3 * 86400), "3 days ago");
    EXPECT_EQ(added(6 * 86400), "6 days ago");
    EXPECT_EQ(added(7 * 86400), "Nov 29");
    EXPECT_EQ(added(8 * 86400), "Nov 28");
    EXPECT_EQ(added(Date::fromUnix(1767225600), now), "Jan 1"); // 2026-01-01: no year shown
}

TEST(FormatTest, MidSentenceOnlyTheRelativeWordsGoLowerCase) {
    const struct {
        double secondsBefore;
        const char* expected;
    } cases[] = {{0, "just now"}, {20 * 3600, "yesterday"}, {8 * 86400, "Nov 28"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(Format::addedInSentence(now.adding(-c.secondsBefore), now).toStdString(), c.expected);
    }
}

TEST(FormatTest, ShortTimeHasHoursAndMinutesInTheLocalesStyle) {
    const Date afternoon = Date::fromUnix(1796565900); // 2026-12-06 14:05 UTC
    const icu::Locale before = icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    const QString american = Format::shortTime(afternoon);
    icu::Locale::setDefault(icu::Locale("de_DE"), status);
    const QString german = Format::shortTime(afternoon);
    icu::Locale::setDefault(before, status);
    // No seconds either way; the 12-hour clock where the locale keeps one.
    EXPECT_TRUE(american.startsWith("2:05")) << american.toStdString();
    EXPECT_TRUE(american.endsWith("PM")) << american.toStdString();
    EXPECT_EQ(german, "14:05");
}
