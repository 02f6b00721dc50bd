// A small writer of JSON text: objects, arrays, strings, integers, true,
// false and null, indented by two blanks a level. Strings go in as UTF-8;
// they come out with the quote, the backslash and every control character
// escaped, and with any byte that is no part of valid UTF-8 replaced by
// U+FFFD, so the document is always valid JSON in valid UTF-8.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace oup {

class TJsonWriter {
public:
    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // Names the next value; only inside an object, before each value.
    void Key(const std::string& name);
    void String(const std::string& utf8);
    void Number(int64_t value);
    void Bool(bool value);
    void Null();

    // The document so far; complete once every object and array is ended.
    const std::string& Text() const { return text_; }

private:
    void Open(char bracket);
    void Close(char bracket);
    void BeforeValue();
    void NewLine();

    std::vector<bool> levels_;  // per open object or array: nothing in it yet
    bool afterKey_ = false;
    std::string text_;
};

// A string as a quoted JSON string (see TJsonWriter).
std::string JsonString(const std::string& utf8);

}  // namespace oup
