#include "app/model/wording.h"

#include "core/names.h"

#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace {

QDateTime local(Date date) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(date.unixSeconds() * 1000.0)));
}

std::string utf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

/// The date written with the locale's best pattern for the fields of `skeleton`; nothing when ICU fails.
std::optional<std::string> withSkeleton(Date date, const char* skeleton) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale = icu::Locale::getDefault();
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(locale, status));
    if (U_SUCCESS(status)) {
        const icu::UnicodeString pattern = generator->getBestPattern(icu::UnicodeString(skeleton), status);
        icu::SimpleDateFormat format(pattern, locale, status);
        if (U_SUCCESS(status)) {
            icu::UnicodeString text;
            format.format(date.unixSeconds() * 1000.0, text);
            return utf8(text);
        }
    }
    return std::nullopt;
}

/// "Just now", "12 min ago", "3 h ago", "Yesterday", "4 days ago"; nothing from a week back.
std::optional<std::string> relative(Date date, Date now) {
    const double seconds = now.sinceReferenceDate - date.sinceReferenceDate;
    if (seconds < 60) {
        return "Just now";
    }
    if (seconds < 3600) {
        return std::to_string(static_cast<long long>(seconds / 60)) + " min ago";
    }
    const QDate day = local(date).date();
    const QDate today = local(now).date();
    if (day == today) {
        return std::to_string(static_cast<long long>(seconds / 3600)) + " h ago";
    }
    const qint64 days = day.daysTo(today);
    if (days == 1) {
        return "Yesterday";
    }
    if (days < 7) {
        return std::to_string(days) + " days ago";
    }
    return std::nullopt;
}

/// The day and abbreviated month in the user's locale ("6 Dec", "Dec 6").
std::string day(Date date) {
    if (auto words = withSkeleton(date, "dMMM")) {
        return *std::move(words);
    }
    return QLocale().toString(local(date).date(), QStringLiteral("d MMM")).toStdString();
}

/// The locale's word for a day `days` away ("tomorrow", "in 3 days"), as ICU's long relative style
/// names it.
std::string dayAhead(qint64 days) {
    UErrorCode status = U_ZERO_ERROR;
    icu::RelativeDateTimeFormatter formatter(icu::Locale::getDefault(), nullptr, UDAT_STYLE_LONG,
                                             UDISPCTX_CAPITALIZATION_NONE, status);
    if (U_SUCCESS(status)) {
        icu::UnicodeString text;
        formatter.format(static_cast<double>(days), UDAT_REL_UNIT_DAY, text, status);
        if (U_SUCCESS(status)) {
            return utf8(text);
        }
    }
    return days == 1 ? "tomorrow" : "in " + std::to_string(days) + " days";
}

/// " · 2 downloads · 1 following": what a link has done, the same after every kind of status.
std::string counts(const Share& share, int followers) {
    std::string text = " · " + Wording::counted(share.downloads, "download", "downloads");
    if (followers > 0) {
        text += " · " + std::to_string(followers) + " following";
    }
    return text;
}

} // namespace

namespace Wording {

std::string counted(std::int64_t count, std::string_view singular, std::string_view plural) {
    return std::to_string(count) + " " + std::string(count == 1 ? singular : plural);
}

std::string added(Date date, Date now) {
    if (auto words = relative(date, now)) {
        return *std::move(words);
    }
    return day(date);
}

std::string addedInSentence(Date date, Date now) {
    // Only the relative words: a month's name keeps the capital the locale gives it.
    if (const auto words = relative(date, now)) {
        return QString::fromStdString(*words).toLower().toStdString();
    }
    return day(date);
}

std::string shortTime(Date date) {
    // "j" is the locale's preferred hour cycle, 12 or 24 hours.
    if (auto words = withSkeleton(date, "jmm")) {
        return *std::move(words);
    }
    return QLocale().toString(local(date).time(), QStringLiteral("HH:mm")).toStdString();
}

std::string timeLeft(Date expires, Date now) {
    // An expired share has no time left; a negative count would read as nonsense.
    const double hours = std::max(expires.sinceReferenceDate - now.sinceReferenceDate, 0.0) / 3600;
    if (hours < 1) {
        return "Link works for " + std::to_string(static_cast<long long>(std::trunc(hours * 60))) +
               " more min";
    }
    if (hours < 23.5) {
        return "Link works for " + std::to_string(std::llround(hours)) + " more h";
    }
    return "Link works for " + counted(std::llround(hours / 24), "more day", "more days");
}

std::string liveShareStatus(const Share& share, Date now, int followers) {
    return (share.expires ? timeLeft(*share.expires, now) : "Until you stop it") + counts(share, followers);
}

std::string earlierShareStatus(const Share& share, Date now) {
    const std::string downloads = counted(share.downloads, "download", "downloads");
    if (share.stopped) {
        return "Stopped " + addedInSentence(*share.stopped, now) + " · " + downloads;
    }
    if (share.expires) {
        return "Expired " + addedInSentence(*share.expires, now) + " · " + downloads;
    }
    return downloads;
}

std::string inspectorShareStatus(const Share& share, Date now, int followers) {
    std::string line;
    if (!share.expires) {
        line = "Works until you stop it";
    } else {
        const QDate expiry = local(*share.expires).date();
        const QDate today = local(now).date();
        line = expiry == today ? "Stops at " + shortTime(*share.expires)
                               : "Stops " + dayAhead(today.daysTo(expiry));
    }
    // A receive link serves nothing, so there is nothing to download or follow.
    if (share.target.kind() == ShareTarget::Kind::inbox) {
        return line;
    }
    return line + counts(share, followers);
}

std::string shareContents(const Share& share) {
    std::vector<std::string> parts;
    if (share.target.kind() == ShareTarget::Kind::bundle && !share.contents.empty()) {
        std::string names = share.contents[0];
        if (share.contents.size() >= 2) {
            names += ", " + share.contents[1];
        }
        if (share.contents.size() >= 3) {
            names += " and " + std::to_string(share.contents.size() - 2) + " more";
        }
        parts.push_back(std::move(names));
    }
    // A row that names a single item needs no "1 item" to repeat it.
    if (share.itemCount > 1 || (share.itemCount == 1 && share.target.kind() != ShareTarget::Kind::item)) {
        parts.push_back(counted(share.itemCount, "item", "items"));
    }
    if (share.totalSize >= 1) {
        parts.push_back(Names::size(share.totalSize));
    }
    std::string line;
    for (const auto& part : parts) {
        line += (line.empty() ? "" : " · ") + part;
    }
    return line;
}

std::string phoneSubtitle(const PairedDevice& device, Date now) {
    const std::string paired = "Paired " + addedInSentence(device.paired, now);
    if (!device.lastSent) {
        return paired + " · hasn't sent anything yet";
    }
    return paired + " · sent " + counted(device.sentCount, "thing", "things") + " · last " +
           addedInSentence(*device.lastSent, now);
}

Countdown pairingCountdown(Date expires, Date now) {
    // A minute that has only just begun is not promised; 10 min and half a second reads 10, not 11.
    const double minutes = std::trunc((expires.sinceReferenceDate - now.sinceReferenceDate) / 60 + 0.99);
    if (minutes < 1) {
        return {"Code ran out", true};
    }
    return {"Code works once, for " + std::to_string(static_cast<long long>(minutes)) + " more min", false};
}

} // namespace Wording
