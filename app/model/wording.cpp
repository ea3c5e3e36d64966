#include "app/model/wording.h"

#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include <QDateTime>
#include <cmath>
#include <memory>
#include <optional>
#include <string>

namespace {

QDateTime local(Date date) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(date.unixSeconds() * 1000.0)));
}

/// The date written with the locale's best pattern for the fields of `skeleton`; nothing when ICU fails.
std::optional<QString> withSkeleton(Date date, const char* skeleton) {
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
            std::string utf8;
            text.toUTF8String(utf8);
            return QString::fromStdString(utf8);
        }
    }
    return std::nullopt;
}

/// "Just now", "12 min ago", "3 h ago", "Yesterday", "4 days ago"; nothing from a week back.
std::optional<QString> relative(Date date, Date now) {
    const double seconds = now.sinceReferenceDate - date.sinceReferenceDate;
    if (seconds < 60) {
        return QStringLiteral("Just now");
    }
    if (seconds < 3600) {
        return QString::number(static_cast<long long>(seconds / 60)) + QStringLiteral(" min ago");
    }
    const QDate day = local(date).date();
    const QDate today = local(now).date();
    if (day == today) {
        return QString::number(static_cast<long long>(seconds / 3600)) + QStringLiteral(" h ago");
    }
    const qint64 days = day.daysTo(today);
    if (days == 1) {
        return QStringLiteral("Yesterday");
    }
    if (days < 7) {
        return QString::number(days) + QStringLiteral(" days ago");
    }
    return std::nullopt;
}

/// The day and abbreviated month in the user's locale ("6 Dec", "Dec 6").
QString day(Date date) {
    return withSkeleton(date, "dMMM")
        .value_or(QLocale().toString(local(date).date(), QStringLiteral("d MMM")));
}

} // namespace

namespace Format {

QString added(Date date, Date now) {
    if (auto words = relative(date, now)) {
        return *std::move(words);
    }
    return day(date);
}

QString addedInSentence(Date date, Date now) {
    // Only the relative words: a month's name keeps the capital the locale gives it.
    if (const auto words = relative(date, now)) {
        return words->toLower();
    }
    return day(date);
}

QString shortTime(Date date) {
    // "j" is the locale's preferred hour cycle, 12 or 24 hours.
    return withSkeleton(date, "jmm")
        .value_or(QLocale().toString(local(date).time(), QStringLiteral("HH:mm")));
}

} // namespace Format
