#include "common/JsonWriter.h"

#include <cstdio>

namespace oup {

namespace {

// The length of the valid UTF-8 sequence at text[at], 0 when there is none:
// no overlong forms, no surrogates, nothing above U+10FFFF.
size_t Utf8SequenceAt(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    else return 0;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (at + length > text.size()) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (size_t at = 0; at < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[at]);
        const size_t length = Utf8SequenceAt(utf8, at);
        if (length == 0) {
            out += "\\ufffd";
            ++at;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(utf8, at, length);
        }
        at += length;
    }
    return out + "\"";
}

void TJsonWriter::NewLine() {
    text_ += '\n';
    text_.append(2 * levels_.size(), ' ');
}

void TJsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) return;
    if (!levels_.back()) text_ += ',';
    levels_.back() = false;
    NewLine();
}

void TJsonWriter::Key(const std::string& name) {
    BeforeValue();
    text_ += JsonString(name) + ": ";
    afterKey_ = true;
}

void TJsonWriter::Open(char bracket) {
    BeforeValue();
    text_ += bracket;
    levels_.push_back(true);
}

void TJsonWriter::Close(char bracket) {
    const bool empty = levels_.back();
    levels_.pop_back();
    if (!empty) NewLine();
    text_ += bracket;
    if (levels_.empty()) text_ += '\n';
}

void TJsonWriter::String(const std::string& utf8) {
    BeforeValue();
    text_ += JsonString(utf8);
}

void TJsonWriter::Number(int64_t value) {
    BeforeValue();
    text_ += std::to_string(value);
}

void TJsonWriter::Bool(bool value) {
    BeforeValue();
    text_ += value ? "true" : "false";
}

void TJsonWriter::Null() {
    BeforeValue();
    text_ += "null";
}

}  // namespace oup
