// Exceptions that carry the program's own message texts. Every error the
// core raises is one of these, so a caller shows Message() as it stands.
#pragma once
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace oup {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A date-time text that does not read as a date and time.
class EConvertError : public Exception { using Exception::Exception; };
// Input/output failures: a file that cannot be opened, a directory that
// cannot be created.
class EInOutError : public Exception { using Exception::Exception; };
class EFOpenError : public EInOutError { using EInOutError::EInOutError; };
// Fewer bytes read or written than asked.
class EReadError : public EInOutError { using EInOutError::EInOutError; };
class EWriteError : public EInOutError { using EInOutError::EInOutError; };
// A string list asked for an index it does not have.
class EListError : public Exception { using Exception::Exception; };

// Fills the %s / %d slots of a message text in order with the given values.
// Not printf: the values are outside data and must never act as a format.
std::string FormatMessage(const std::string& pattern, std::initializer_list<std::string> values);

inline constexpr const char* kReadErrorText = "Stream read error";
inline constexpr const char* kWriteErrorText = "Stream write error";
inline constexpr const char* kCannotOpenFileText = "Cannot open file \"%s\". %s";
inline constexpr const char* kCannotCreateDirText = "Unable to create directory";
inline constexpr const char* kListIndexText = "List index out of bounds (%d)";

[[noreturn]] void ThrowListIndex(long index);

}  // namespace oup
