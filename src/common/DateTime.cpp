#include "common/DateTime.h"

#include <cmath>
#include <cstdio>

#include "common/Errors.h"

namespace oup {
namespace {

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1.1.0001 to the given date, for years 1..9999.
long DayNumber(int year, int month, int day) {
    long y = year - 1;
    long n = y * 365 + y / 4 - y / 100 + y / 400;
    for (int m = 1; m < month; ++m) n += DaysInMonth(year, m);
    return n + day - 1;
}

const long kDay1899 = DayNumber(1899, 12, 30);

// A small cursor over the text; blanks are allowed before every number and
// separator, as the program has always accepted.
struct TCursor {
    const std::string& s;
    size_t i = 0;
    void SkipBlanks() {
        while (i < s.size() && s[i] == ' ') ++i;
    }
    bool Number(int& out, int maxDigits) {
        SkipBlanks();
        size_t start = i;
        long v = 0;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < size_t(maxDigits)) {
            v = v * 10 + (s[i] - '0');
            ++i;
        }
        if (i == start || (i < s.size() && s[i] >= '0' && s[i] <= '9')) return false;
        out = static_cast<int>(v);
        return true;
    }
    bool Char(char c) {
        SkipBlanks();
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    bool AtEnd() {
        SkipBlanks();
        return i == s.size();
    }
};

}  // namespace

std::optional<TDateTime> EncodeDateTime(int year, int month, int day, int hour, int minute,
                                        int second) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return std::nullopt;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    const double date = static_cast<double>(DayNumber(year, month, day) - kDay1899);
    const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    // Before 1899 the fraction counts away from zero, as the type has always done.
    return date < 0 ? date - time : date + time;
}

std::optional<TDateTime> TryStrToDateTime(const std::string& text) {
    TCursor c{text};
    int day, month, year, hour = 0, minute = 0, second = 0;
    if (!c.Number(day, 2) || !c.Char('.') || !c.Number(month, 2) || !c.Char('.'))
        return std::nullopt;
    // The year is written in full: two-digit years are not guessed at.
    c.SkipBlanks();
    const size_t yearStart = c.i;
    if (!c.Number(year, 4) || c.i - yearStart < 3) return std::nullopt;
    if (!c.AtEnd()) {
        if (!c.Number(hour, 2) || !c.Char(':') || !c.Number(minute, 2)) return std::nullopt;
        if (c.Char(':') && !c.Number(second, 2)) return std::nullopt;
        if (!c.AtEnd()) return std::nullopt;
    }
    return EncodeDateTime(year, month, day, hour, minute, second);
}

TDateTime StrToDateTime(const std::string& text) {
    if (auto v = TryStrToDateTime(text)) return *v;
    throw EConvertError(FormatMessage(kInvalidDateTimeText, {text}));
}

TDateTimeParts DecodeDateTime(TDateTime value) {
    // Whole seconds since 30.12.1899, counted from the absolute time of day.
    double days = std::trunc(value);
    long secs = std::lround(std::fabs(value - days) * 86400.0);
    if (secs >= 86400) {
        secs -= 86400;
        days += value < 0 ? -1 : 1;
    }
    long n = static_cast<long>(days) + kDay1899;
    int year = static_cast<int>(n / 366) + 1;
    while (DayNumber(year + 1, 1, 1) <= n) ++year;
    n -= DayNumber(year, 1, 1);
    int month = 1;
    while (n >= DaysInMonth(year, month)) n -= DaysInMonth(year, month++);
    return {year, month, static_cast<int>(n) + 1, static_cast<int>(secs / 3600),
            static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60)};
}

std::string DateTimeToStr(TDateTime value) {
    const TDateTimeParts p = DecodeDateTime(value);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", p.Day, p.Month, p.Year, p.Hour,
                  p.Minute, p.Second);
    return buf;
}

int32_t DateTimeToDos(TDateTime value) {
    if (!std::isfinite(value) || value < -693593.0 || value > 2958466.0) return 0;
    const TDateTimeParts p = DecodeDateTime(value);
    if (p.Year < 1980 || p.Year > 2107) return 0;
    const uint32_t date = uint32_t(p.Year - 1980) << 9 | uint32_t(p.Month) << 5 | uint32_t(p.Day);
    const uint32_t time = uint32_t(p.Hour) << 11 | uint32_t(p.Minute) << 5 | uint32_t(p.Second / 2);
    return static_cast<int32_t>(date << 16 | time);
}

bool IsValidDos(int32_t dos) { return DosToDateTime(dos).has_value(); }

std::optional<TDateTime> DosToDateTime(int32_t dos) {
    const auto v = static_cast<uint32_t>(dos);
    const int date = static_cast<int>(v >> 16), time = static_cast<int>(v & 0xFFFF);
    return EncodeDateTime((date >> 9) + 1980, (date >> 5) & 15, date & 31, time >> 11,
                          (time >> 5) & 63, (time & 31) * 2);
}

}  // namespace oup
