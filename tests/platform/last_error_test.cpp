// The reasons' formatter: what fits reads as snprintf would print it; what
// does not keeps whole characters, a long string's ends and what follows it.
#include "platform/last_error.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using sonvale::last_error;
using sonvale::set_last_error;

#define EXPECT_AS_PRINTF(...)                                                                      \
    do {                                                                                           \
        char expected[256];                                                                        \
        std::snprintf(expected, sizeof expected, __VA_ARGS__);                                     \
        set_last_error(__VA_ARGS__);                                                               \
        EXPECT_STREQ(last_error(), expected);                                                      \
    } while (0)

TEST(LastError, ShortReasonsReadAsPrintfWouldPrintThem) {
    EXPECT_AS_PRINTF("plain words, 100%% sure");
    EXPECT_AS_PRINTF("%d %i %u %x %X %o %c", -7, 42, 4000000000u, 0xBEEF, 0xBEEF, 8, 'q');
    EXPECT_AS_PRINTF("%ld %lu %lld %llu", -5L, 6UL, -1234567890123LL, 18446744073709551615ULL);
#ifndef _WIN32 // the Windows runtime's formats, which the compiler checks, lack these
    EXPECT_AS_PRINTF("%zu %hd %hhu", size_t{123456789}, short{-3}, static_cast<unsigned char>(200));
#endif
    EXPECT_AS_PRINTF("[%5d] [%-5d] [%05d] [%+d] [%*d] [%.3s] [%.*s]", 42, 42, 42, 42, 6, 7,
                     "abcdef", 2, "xyz");
    EXPECT_AS_PRINTF("%.2f %g %s %s", 3.14159, 0.5, "", "'a path' in quotes");
}

// The end-to-end case (a long path and the system's cause) is in the flat
// functions' tests; here several long strings must still end whole.
TEST(LastError, LongStringsLoseTheirMiddleAndCutsFallBetweenCharacters) {
    std::string path = "/start/";
    for (int i = 0; i < 500; ++i)
        path += "\xE2\x82\xAC";
    set_last_error("'%s' %s %s %s: %s", path.c_str(), path.c_str(), path.c_str(), path.c_str(),
                   "the cause");
    const std::string reason = last_error();
    EXPECT_TRUE(test_support::valid_utf8(reason)) << reason;
    EXPECT_EQ(reason.rfind("'/start/", 0), 0u) << reason;
    EXPECT_NE(reason.find("\xE2\x82\xAC\xE2\x80\xA6\xE2\x82\xAC"), std::string::npos) << reason;
    EXPECT_LT(reason.size(), 1024u);
}

} // namespace
