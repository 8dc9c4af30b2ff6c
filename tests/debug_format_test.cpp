// Debug message rendering: the conversions the program prints with, and
// safety at the edges (small buffers, odd formats, wide characters).

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "debug_format.h"

namespace {

std::string RenderInto(std::size_t capacity, const wchar_t* format, ...) {
    char buffer[256];
    std::va_list args;
    va_start(args, format);
    const std::size_t length = platform::FormatDebugMessage(buffer, capacity, format, args);
    va_end(args);
    EXPECT_LT(length, capacity);
    EXPECT_EQ(buffer[length], '\0');
    return std::string(buffer, length);
}

template <typename... Args>
std::string Render(const wchar_t* format, Args... args) {
    return RenderInto(256, format, args...);
}

TEST(DebugFormatTest, SignedDecimal) {
    EXPECT_EQ(Render(L"%i", 0), "0");
    EXPECT_EQ(Render(L"%i", 255), "255");
    EXPECT_EQ(Render(L"%d", -42), "-42");
    EXPECT_EQ(Render(L"%i", INT_MIN), "-2147483648");
    EXPECT_EQ(Render(L"%i", INT_MAX), "2147483647");
    EXPECT_EQ(Render(L"%05i", -42), "-0042");
    EXPECT_EQ(Render(L"%5i|%-5i|", 42, 42), "   42|42   |");
}

TEST(DebugFormatTest, HexadecimalWithZeroPadding) {
    EXPECT_EQ(Render(L"0x%08x", 0x40E00000u), "0x40e00000");
    EXPECT_EQ(Render(L"0x%08x", 0u), "0x00000000");
    EXPECT_EQ(Render(L"0x%08x", 0xFFFFFFFFu), "0xffffffff");
    EXPECT_EQ(Render(L"0x%02x", 3u), "0x03");
    EXPECT_EQ(Render(L"0x%02x", 0x1FFu), "0x1ff");  // width is a minimum
    EXPECT_EQ(Render(L"%X", 0xABCDu), "ABCD");
    EXPECT_EQ(Render(L"%u", 4000000000u), "4000000000");
}

TEST(DebugFormatTest, TextPassesThroughExactly) {
    EXPECT_EQ(Render(L"    GPDR1 changed from 0x%08x ", 2u), "    GPDR1 changed from 0x00000002 ");
    EXPECT_EQ(Render(L"\r\n-TolvarGPIOTest\r\n"), "\r\n-TolvarGPIOTest\r\n");
    EXPECT_EQ(Render(L"100%%"), "100%");
    EXPECT_EQ(Render(L""), "");
}

TEST(DebugFormatTest, UnknownConversionsAreShownAndConsumeNothing) {
    EXPECT_EQ(Render(L"%q %i", 7), "%q 7");
    EXPECT_EQ(Render(L"%s and %i", L"text", 7), "text and 7");
    EXPECT_EQ(Render(L"%08q", 7), "%08q");
    EXPECT_EQ(Render(L"end %"), "end %");
    EXPECT_EQ(Render(L"end %08"), "end %08");
}

TEST(DebugFormatTest, HugeWidthIsCapped) {
    EXPECT_EQ(Render(L"%99999999999i", 1).size(), 32u);
}

TEST(DebugFormatTest, WideCharactersBecomeUtf8) {
    EXPECT_EQ(Render(L"\u00b5s"), "\xc2\xb5s");
    EXPECT_EQ(Render(L"\u2192"), "\xe2\x86\x92");
    EXPECT_EQ(Render(L"\U0001F600"), "\xf0\x9f\x98\x80");
}

TEST(DebugFormatTest, OutputIsCutSafelyAtWholeCharacters) {
    EXPECT_EQ(RenderInto(5, L"Writing 0x%02x\r", 3u), "Writ");
    EXPECT_EQ(RenderInto(4, L"a\u2192b"), "a");  // the arrow needs 3 bytes + NUL
    EXPECT_EQ(RenderInto(1, L"abc"), "");
    char untouched = 'x';
    std::va_list none{};
    EXPECT_EQ(platform::FormatDebugMessage(&untouched, 0, L"abc", none), 0u);
    EXPECT_EQ(untouched, 'x');
}

std::string Render16(const char16_t* format, ...) {
    char buffer[64];
    std::va_list args;
    va_start(args, format);
    const std::size_t length = platform::FormatDebugMessage16(buffer, sizeof buffer, format, args);
    va_end(args);
    return std::string(buffer, length);
}

// The arguments of a call made on an emulated core: words, and texts for %s.
class EmulatedCallArguments : public platform::DebugArguments16 {
public:
    EmulatedCallArguments(std::vector<std::uint32_t> words, std::vector<std::u16string> texts)
        : words_(std::move(words)), texts_(std::move(texts)) {}
    std::uint32_t Next() override { return words_.at(word_++); }
    const char16_t* NextText() override { return texts_.at(text_++).c_str(); }

private:
    std::vector<std::uint32_t> words_;
    std::vector<std::u16string> texts_;
    std::size_t word_ = 0, text_ = 0;
};

std::string Render16From(const char16_t* format, std::vector<std::uint32_t> words,
                         std::vector<std::u16string> texts = {}) {
    char buffer[64];
    EmulatedCallArguments arguments(std::move(words), std::move(texts));
    return std::string(buffer, platform::FormatDebugMessage16(buffer, sizeof buffer, format, arguments));
}

// A Windows CE caller (the CE process's NKDbgPrintfW): 16-bit text, %s of
// 16-bit text, from a C variadic call or from an emulated core's registers.
TEST(DebugFormatTest, CeCallersTextAndArgumentsRenderAsTheNativeOnes) {
    EXPECT_EQ(Render16(u"mapped to: 0x%08x %i %u\r\n", 0x60000000u, -42, 7u), "mapped to: 0x60000000 -42 7\r\n");
    EXPECT_EQ(Render16From(u"mapped to: 0x%08x %i %u\r\n", {0x60000000u, 0xFFFFFFD6u, 7u}),
              "mapped to: 0x60000000 -42 7\r\n");
    EXPECT_EQ(Render16(u"%s", u"Writing 0x03\r"), "Writing 0x03\r");
    EXPECT_EQ(Render16From(u"%s|%x|%s", {0x2Au}, {u"Writing 0x03\r", u"\U0001F600"}),
              "Writing 0x03\r|2a|\xf0\x9f\x98\x80");
    // One character from a surrogate pair; a lone one is replaced.
    EXPECT_EQ(Render16(u"\U0001F600 \xD800.%s", u"\U0001F600\xDC00"), "\xf0\x9f\x98\x80 \xef\xbf\xbd.\xf0\x9f\x98\x80\xef\xbf\xbd");
}

std::wstring RenderWide(std::size_t capacity, const wchar_t* format, ...) {
    wchar_t buffer[256];
    std::va_list args;
    va_start(args, format);
    const std::size_t length = platform::FormatDebugMessageWide(buffer, capacity, format, args);
    va_end(args);
    EXPECT_LT(length, capacity);
    EXPECT_EQ(buffer[length], L'\0');
    return std::wstring(buffer, length);
}

// The Windows CE backend renders each message into CE's 128 characters and
// prints it with NKDbgPrintfW(L"%s", text): the whole message fits in 127
// and its null, a longer one is cut there, never past it.
TEST(DebugFormatTest, WideTextForTheDevicesDebugPrintStaysInsideItsBuffer) {
    EXPECT_EQ(RenderWide(128, L"0x%08x mapped to: 0x%08x\r\n", 0x40E00000u, 0x20000000u),
              L"0x40e00000 mapped to: 0x20000000\r\n");
    EXPECT_EQ(RenderWide(128, L"%s|%i", L"text", 5), L"text|5");
    EXPECT_EQ(RenderWide(128, L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
    const std::wstring longer(200, L'x');
    EXPECT_EQ(RenderWide(128, L"%s", longer.c_str()), std::wstring(127, L'x'));
    EXPECT_EQ(RenderWide(128, L"%0200i", 1).size(), 32u);  // widths stay capped
    EXPECT_EQ(RenderWide(3, L"a\U0001F600"), sizeof(wchar_t) == 2 ? L"a" : L"a\U0001F600");
    EXPECT_EQ(RenderWide(1, L"abc"), L"");
}

}  // namespace
