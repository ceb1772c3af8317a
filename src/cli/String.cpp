#include "cli/String.h"

#include <cstring>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <utility>

namespace {

std::int32_t checkedLength(const char* text)
{
    const std::size_t length = std::strlen(text);
    // capacity must hold length + 1 in a signed 32-bit field
    if (length >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        throw std::length_error("text too long for String");
    }
    return static_cast<std::int32_t>(length);
}

char* allocateEmpty()
{
    char* buffer = new char[1];
    buffer[0] = '\0';
    return buffer;
}

} // namespace

String::String() : length_(0), capacity_(1), buffer_(allocateEmpty()) {}

String::String(const char* text) : length_(checkedLength(text)), capacity_(length_ + 1), buffer_(new char[capacity_])
{
    std::memcpy(buffer_, text, static_cast<std::size_t>(capacity_));
}

String::String(const String& other) : length_(other.length_), capacity_(other.length_ + 1), buffer_(new char[capacity_])
{
    std::memcpy(buffer_, other.buffer_, static_cast<std::size_t>(capacity_));
}

String::String(String&& other) noexcept
    : length_(std::exchange(other.length_, 0)), capacity_(std::exchange(other.capacity_, 0)),
      buffer_(std::exchange(other.buffer_, nullptr))
{
    static char emptyText[1] = {'\0'};
    // A moved-from string holds no buffer of its own (capacity 0); it reads
    // as empty and allocates on its next assignment.
    other.buffer_ = emptyText;
}

String::~String()
{
    if (capacity_ > 0) {
        delete[] buffer_;
    }
}

String& String::operator=(const String& other)
{
    if (&other != this) {
        copyText(other.buffer_, other.length_);
    }
    return *this;
}

String& String::operator=(const char* text)
{
    copyText(text, checkedLength(text));
    return *this;
}

String& String::operator=(String&& other) noexcept
{
    std::swap(length_, other.length_);
    std::swap(capacity_, other.capacity_);
    std::swap(buffer_, other.buffer_);
    return *this;
}

String& String::assign(const String& other) { return *this = other; }

String& String::assign(const char* text) { return *this = text; }

void String::copyText(const char* text, std::int32_t textLength)
{
    const auto bytes = static_cast<std::size_t>(textLength) + 1;
    if (capacity_ < textLength + 1) {
        // copy before releasing: the text may lie inside the old buffer
        char* grown = new char[bytes];
        std::memcpy(grown, text, bytes);
        if (capacity_ > 0) {
            delete[] buffer_;
        }
        buffer_ = grown;
        capacity_ = textLength + 1;
    } else {
        std::memmove(buffer_, text, bytes);
    }
    length_ = textLength;
}

bool operator==(const String& left, const String& right) { return std::strcmp(left.buffer_, right.buffer_) == 0; }

bool operator==(const String& left, const char* right) { return std::strcmp(left.buffer_, right) == 0; }

std::ostream& operator<<(std::ostream& stream, const String& text) { return stream.write(text.c_str(), text.length()); }
