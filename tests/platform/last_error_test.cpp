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
    EXPECT_AS_PRINTF("%zu %hd %hhu", size_t{123456789}, short{-3}, static_cast<unsigned char>(200));
    EXPECT_AS_PRINTF("[%5d] [%-5d] [%05d] [%+d] [%*d] [%.3s] [%.*s]", 42, 42, 42, 42, 6, 7,
                     "abcdef", 2, "xyz");
    EXPECT_AS_PRINTF("%.2f %g %s %s", 3.14159, 0.5, "", "'a path' in quotes");
}

TEST(LastError, LongStringsLoseTheirMiddleAndCutsFallBetweenCharacters) {
    const std::string euro = "\xE2\x82\xAC", ellipsis = "\xE2\x80\xA6";
    std::string path = "/start/";
    for (int i = 0; i < 500; ++i)
        path += euro;
    path += "/end.wav";
    set_last_error("cannot create '%s': %s", path.c_str(), "No such file or directory");
    const std::string reason = last_error();
    EXPECT_TRUE(test_support::valid_utf8(reason)) << reason;
    EXPECT_EQ(reason.rfind("cannot create '/start/", 0), 0u) << reason;
    EXPECT_NE(reason.find(ellipsis), std::string::npos) << reason;
    const std::string tail = euro + "/end.wav': No such file or directory";
    EXPECT_EQ(reason.substr(reason.size() - tail.size()), tail);
    EXPECT_LT(reason.size(), 400u);

    // Several long strings together still end between characters.
    set_last_error("%s %s %s %s %s", path.c_str(), path.c_str(), path.c_str(), path.c_str(),
                   path.c_str());
    EXPECT_TRUE(test_support::valid_utf8(last_error()));
    EXPECT_LT(std::string(last_error()).size(), 1024u);
}

} // namespace
