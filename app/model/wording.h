#pragma once

#include "core/date.h"

#include <QString>

/// Dates as the explorer words them.
namespace Format {

/// How long ago `date` was, against `now`, in the local time zone: "Just now", "12 min ago", "3 h ago",
/// "Yesterday", "4 days ago", else the day and abbreviated month in the user's locale ("6 Dec").
QString added(Date date, Date now);

/// `added` for the middle of a sentence ("Paired yesterday", "Stopped 5 min ago", "Paired Nov 17"): the
/// relative words in lower case, a date as the locale writes it.
QString addedInSentence(Date date, Date now);

/// The time of day of `date` in the local time zone, hours and minutes as the user's locale writes them
/// ("2:05 PM", "14:05").
QString shortTime(Date date);

} // namespace Format
