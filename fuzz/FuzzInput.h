#pragma once
// Reads a fuzzer's byte string front to back as small numbers and UTF-16 text,
// so seed files stay readable: ASCII bytes are themselves, and any other code
// unit (lone surrogates included) is written as an escape byte 0x80-0xFF
// followed by the unit's two bytes, high byte first.
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : p_(data), e_(data + size) {}

    bool Empty() const { return p_ == e_; }
    std::size_t Left() const { return std::size_t(e_ - p_); }

    // 0 once the input is used up, so every decoder terminates.
    std::uint8_t Byte() { return p_ == e_ ? 0 : *p_++; }
    // A number in 0..n-1 (n >= 1).
    int Below(int n) { return Byte() % n; }

    // One code unit in the escape form above.
    char16_t Unit()
    {
        const std::uint8_t b = Byte();
        if (b < 0x80 || Left() < 2)
            return b;
        const std::uint8_t hi = Byte();
        return char16_t((hi << 8) | Byte());
    }

    // Everything that is left, as text.
    QString RestAsText()
    {
        QString text;
        text.reserve(qsizetype(Left()));
        while (!Empty())
            text += QChar(Unit());
        return text;
    }

private:
    const std::uint8_t* p_;
    const std::uint8_t* e_;
};

// A broken property: print what broke and abort, which libFuzzer reports as a
// crash and saves the input.
[[noreturn]] inline void Fail(const char* what, const QString& detail = QString())
{
    std::fprintf(stderr, "fuzz check failed: %s\n%s\n", what, qUtf8Printable(detail.left(2000)));
    std::abort();
}

inline void Check(bool ok, const char* what, const QString& detail = QString())
{
    if (!ok)
        Fail(what, detail);
}

} // namespace fuzz
