#pragma once

#include <cstdint>
#include <iosfwd>

// The tool's one text type: counted, heap-held, NUL-terminated 8-bit text.
// Growth is to the exact size needed and a buffer never shrinks, so a string
// reused for every argument stops allocating once it has seen the longest one.
class String {
public:
    String();
    explicit String(const char* text);
    String(const String& other);
    String(String&& other) noexcept;
    ~String();

    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;
    String& operator=(const char* text);

    String& assign(const String& other);
    String& assign(const char* text);

    [[nodiscard]] std::int32_t length() const { return length_; }
    [[nodiscard]] std::int32_t capacity() const { return capacity_; }
    // NOLINTNEXTLINE(readability-identifier-naming): the name every C++ reader expects
    [[nodiscard]] const char* c_str() const { return buffer_; }

    friend bool operator==(const String& left, const String& right);
    friend bool operator==(const String& left, const char* right);

private:
    void copyText(const char* text, std::int32_t textLength);

    std::int32_t length_;
    std::int32_t capacity_;
    char* buffer_;
};

std::ostream& operator<<(std::ostream& stream, const String& text);
