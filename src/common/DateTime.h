// Date-time values (days since 30.12.1899, the fraction the time of day) and
// DOS date-times (packed local time, date in the high word, 2-second steps).
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace oup {

using TDateTime = double;

inline constexpr const char* kInvalidDateTimeText = "'%s' is not a valid date and time";

// Reads "dd.mm.yyyy[ hh:mm[:ss]]" with the program's fixed separators, whatever
// the user's regional settings. Raises EConvertError with the text otherwise.
TDateTime StrToDateTime(const std::string& text);
std::optional<TDateTime> TryStrToDateTime(const std::string& text);

std::optional<TDateTime> EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                                        int second = 0);
struct TDateTimeParts {
    int Year, Month, Day, Hour, Minute, Second;
};
// Splits a value into its calendar parts, the time rounded to whole seconds.
TDateTimeParts DecodeDateTime(TDateTime value);
// "dd.mm.yyyy hh:mm:ss", the form the script uses.
std::string DateTimeToStr(TDateTime value);

// Packs to DOS form; years outside 1980..2107 give 0, which names no time.
int32_t DateTimeToDos(TDateTime value);
// Unpacks a DOS date-time; nothing for a value that names no valid time.
std::optional<TDateTime> DosToDateTime(int32_t dos);
bool IsValidDos(int32_t dos);

}  // namespace oup
