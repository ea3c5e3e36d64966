#pragma once

#include "core/date.h"
#include "core/library.h"

#include <cstdint>
#include <string>
#include <string_view>

/// Every phrase the panel builds from numbers and dates: counts, how long ago, how long a link or a
/// pairing code still works, a link's status line and a phone's subtitle. Dates are worded in the local
/// time zone and the user's locale.
namespace Wording {

/// "1 file", "3 files", "0 files".
std::string counted(std::int64_t count, std::string_view singular, std::string_view plural);

/// How long ago `date` was, against `now`: "Just now", "12 min ago", "3 h ago", "Yesterday", "4 days ago",
/// else the day and abbreviated month ("6 Dec").
std::string added(Date date, Date now);

/// `added` for the middle of a sentence ("Paired yesterday", "Stopped 5 min ago", "Paired Nov 17"): the
/// relative words in lower case, a date as the locale writes it.
std::string addedInSentence(Date date, Date now);

/// The time of day, hours and minutes as the user's locale writes them ("2:05 PM", "14:05").
std::string shortTime(Date date);

/// "Link works for 40 more min", "… 3 more h", "… 2 more days"; an expired link has no time left.
std::string timeLeft(Date expires, Date now);

/// The shares list's line for a working link: "Link works for 3 more h · 2 downloads · 1 following".
std::string liveShareStatus(const Share& share, Date now, int followers);

/// The shares list's line for an earlier link: "Stopped 5 min ago · 2 downloads".
std::string earlierShareStatus(const Share& share, Date now);

/// The inspector's line: "Stops at 14:05 · 2 downloads", "Stops tomorrow …", "Works until you stop it";
/// a receive link serves nothing, so it shows no counts.
std::string inspectorShareStatus(const Share& share, Date now, int followers);

/// What a link held when it was made: "Report.pdf, Notes and 3 more · 5 items · 2 MB".
std::string shareContents(const Share& share);

/// A paired phone's line: "Paired yesterday · sent 3 things · last 5 min ago".
std::string phoneSubtitle(const PairedDevice& device, Date now);

/// The pairing code's countdown: "Code works once, for 9 more min"; `ranOut` when the code is spent.
struct Countdown {
    std::string text;
    bool ranOut = false;
};
Countdown pairingCountdown(Date expires, Date now);

} // namespace Wording
