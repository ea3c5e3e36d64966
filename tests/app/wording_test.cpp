// Every phrase the panel builds from numbers and dates, as one table. Run with TZ=UTC and
// LANG=en_US.UTF-8, as ctest sets them.
#include "app/model/wording.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <string>
#include <utility>
#include <vector>

namespace {

/// 2026-12-06 15:00:00 UTC, a Sunday afternoon.
const Date now = Date::fromUnix(1796569200);
constexpr double hour = 3600;
constexpr double day = 86400;

Date before(double seconds) {
    return now.adding(-seconds);
}

Share share(ShareTarget target, std::optional<double> secondsLeft, std::int64_t downloads = 0) {
    Share share;
    share.target = std::move(target);
    share.downloads = downloads;
    if (secondsLeft) {
        share.expires = now.adding(*secondsLeft);
    }
    return share;
}

Share stopped(double secondsAgo, std::int64_t downloads) {
    Share stopped = share(ShareTarget::item("i"), hour, downloads);
    stopped.stopped = before(secondsAgo);
    return stopped;
}

Share held(ShareTarget target, std::vector<std::string> contents, std::int64_t itemCount,
           std::int64_t totalSize) {
    Share held = share(std::move(target), std::nullopt);
    held.contents = std::move(contents);
    held.itemCount = itemCount;
    held.totalSize = totalSize;
    return held;
}

PairedDevice phone(Date paired, std::optional<Date> lastSent = std::nullopt, std::int64_t sentCount = 0) {
    return {.id = "p",
            .name = "Ana's iPhone",
            .token = "t",
            .paired = paired,
            .lastSent = lastSent,
            .sentCount = sentCount};
}

std::string live(const Share& share, Date at, int followers) {
    return Wording::liveShareStatus(share, at, followers);
}

std::string inspector(const Share& share, Date at, int followers) {
    return Wording::inspectorShareStatus(share, at, followers);
}

} // namespace

TEST(WordingTest, EveryPhraseAsAPersonReadsIt) {
    const Date afterMidnight = Date::fromUnix(1796515200 + 300); // 2026-12-06 00:05
    const Date lateEvening = Date::fromUnix(1796599800);         // 2026-12-06 23:30
    const ShareTarget folder = ShareTarget::folder("f");
    // Each row: the phrase as made, and as a person must read it.
    const std::pair<std::string, std::string> cases[] = {
        // How long ago: the future and the last minute are "Just now"; minutes truncate.
        {Wording::added(now.adding(hour), now), "Just now"},
        {Wording::added(before(59.9), now), "Just now"},
        {Wording::added(before(12 * 60 + 59), now), "12 min ago"},
        // Hours only within the same day; midnight today is still today.
        {Wording::added(before(hour), now), "1 h ago"},
        // Minutes win over the calendar: ten minutes across midnight are still minutes.
        {Wording::added(afterMidnight.adding(-600), afterMidnight), "10 min ago"},
        {Wording::added(afterMidnight.adding(-2 * hour), afterMidnight), "Yesterday"},
        {Wording::added(before(39 * hour), now), "Yesterday"},
        {Wording::added(before(39 * hour + 1), now), "2 days ago"},
        // From a week back the date, without a year.
        {Wording::added(before(7 * day), now), "Nov 29"},
        {Wording::added(Date::fromUnix(1767225600), now), "Jan 1"},
        // Mid-sentence only the relative words go lower case, never a month's name.
        {Wording::addedInSentence(before(20 * hour), now), "yesterday"},
        {Wording::addedInSentence(before(8 * day), now), "Nov 28"},
        // A working link in the shares list: the unit its size calls for, none below zero.
        {live(share(folder, 59.9 * 60), now, 0), "Link works for 59 more min · 0 downloads"},
        {live(share(folder, 1.5 * hour, 1), now, 0), "Link works for 2 more h · 1 download"},
        {live(share(folder, 23.49 * hour), now, 0), "Link works for 23 more h · 0 downloads"},
        {live(share(folder, 23.5 * hour), now, 0), "Link works for 1 more day · 0 downloads"},
        {live(share(folder, 36 * hour, 3), now, 0), "Link works for 2 more days · 3 downloads"},
        {live(share(folder, -90), now, 0), "Link works for 0 more min · 0 downloads"},
        {live(share(folder, std::nullopt, 2), now, 3), "Until you stop it · 2 downloads · 3 following"},
        // An earlier link says how it ended.
        {Wording::earlierShareStatus(stopped(300, 2), now), "Stopped 5 min ago · 2 downloads"},
        {Wording::earlierShareStatus(stopped(20 * day, 0), now), "Stopped Nov 16 · 0 downloads"},
        {Wording::earlierShareStatus(share(folder, -day, 1), now), "Expired yesterday · 1 download"},
        {Wording::earlierShareStatus(share(folder, std::nullopt), now), "0 downloads"},
        // The inspector: the time today, the relative day otherwise; midnight is already tomorrow.
        {inspector(share(folder, 20 * hour, 1), now, 0), "Stops tomorrow · 1 download"},
        {inspector(share(folder, 9 * hour, 2), lateEvening, 0), "Stops tomorrow · 2 downloads"},
        {inspector(share(folder, std::nullopt, 3), now, 1),
         "Works until you stop it · 3 downloads · 1 following"},
        // A receive link serves nothing, so it counts nothing.
        {inspector(share(ShareTarget::inbox(), 20 * hour, 5), now, 2), "Stops tomorrow"},
        // What a link held: names only for bundles, "1 item" only where the row does not name it.
        {Wording::shareContents(held(ShareTarget::bundle("b"), {"a", "b", "c", "d", "e"}, 9, 1200)),
         "a, b and 3 more · 9 items · 1.2 kB"},
        {Wording::shareContents(held(ShareTarget::bundle("b"), {"a", "b"}, 2, 0)), "a, b · 2 items"},
        {Wording::shareContents(held(folder, {"a", "b", "c"}, 3, 0)), "3 items"},
        {Wording::shareContents(held(folder, {"a.txt"}, 1, 5)), "1 item · 5 bytes"},
        {Wording::shareContents(held(ShareTarget::item("i"), {"a.txt"}, 1, 5)), "5 bytes"},
        {Wording::shareContents(held(ShareTarget::item("i"), {"note"}, 1, 0)), ""},
        // A phone: when it paired and what it sent; without a last send the count does not matter.
        {Wording::phoneSubtitle(phone(before(day), before(300), 3), now),
         "Paired yesterday · sent 3 things · last 5 min ago"},
        {Wording::phoneSubtitle(phone(before(day), before(2 * hour), 1), now),
         "Paired yesterday · sent 1 thing · last 2 h ago"},
        {Wording::phoneSubtitle(phone(before(day), std::nullopt, 4), now),
         "Paired yesterday · hasn't sent anything yet"},
        {Wording::phoneSubtitle(phone(before(20 * day), before(day), 1), now),
         "Paired Nov 16 · sent 1 thing · last yesterday"},
        // The pairing code: a started minute counts only once it is nearly whole.
        {Wording::pairingCountdown(now.adding(600.5), now).text, "Code works once, for 10 more min"},
        {Wording::pairingCountdown(now.adding(599.5), now).text, "Code works once, for 10 more min"},
        {Wording::pairingCountdown(now.adding(61), now).text, "Code works once, for 2 more min"},
        {Wording::pairingCountdown(now.adding(1), now).text, "Code works once, for 1 more min"},
        {Wording::pairingCountdown(now.adding(0.5), now).text, "Code ran out"},
    };
    for (const auto& [made, expected] : cases) {
        EXPECT_EQ(made, expected);
    }
    EXPECT_FALSE(Wording::pairingCountdown(now.adding(60), now).ranOut);
    EXPECT_TRUE(Wording::pairingCountdown(now, now).ranOut);
}

TEST(WordingTest, TimesFollowTheLocalesClock) {
    const Date afternoon = Date::fromUnix(1796565900); // 2026-12-06 14:05 UTC
    const icu::Locale before = icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    const std::string american = Wording::shortTime(afternoon);
    // A link ending today gives the time it stops.
    const std::string stops = inspector(share(ShareTarget::item("i"), -55 * 60), afternoon.adding(-1800), 0);
    icu::Locale::setDefault(icu::Locale("de_DE"), status);
    const std::string german = Wording::shortTime(afternoon);
    icu::Locale::setDefault(before, status);
    // No seconds either way; the 12-hour clock where the locale keeps one.
    EXPECT_TRUE(american.starts_with("2:05") && american.ends_with("PM")) << american;
    EXPECT_TRUE(stops.starts_with("Stops at 2:05") && stops.ends_with("PM · 0 downloads")) << stops;
    EXPECT_EQ(german, "14:05");
}
