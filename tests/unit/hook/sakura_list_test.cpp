// The parser of the host's window list, on hand-made images of the shared memory.
#include "sakura_list.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "sakura_list_reference.h"

namespace {

// An image of the shared memory: four uninterpreted bytes, then the text, then zeros up to
// `size` (no zero at all when the text fills it).
std::vector<unsigned char> Image(const std::string& text, size_t size = 0) {
    std::string bytes = std::string("\xff\xfe\xfd\xfc", 4) + text;
    if (size == 0)
        size = bytes.size() + 1;
    std::vector<unsigned char> image(size, 0);
    for (size_t i = 0; i < bytes.size() && i < size; ++i)
        image[i] = static_cast<unsigned char>(bytes[i]);
    return image;
}

// Every "hwnd" value of the list, in its order, as one walk yields them.
std::vector<int> Walk(const unsigned char* data, unsigned size) {
    std::vector<int> values;
    MkSakuraCursor cursor;
    SakuraListBegin(data, size, &cursor);
    int value;
    while (SakuraListNextHwnd(data, &cursor, &value))
        values.push_back(value);
    return values;
}

// The n-th value (from 1) of the walk, 0 beyond its end.
int Find(const std::vector<unsigned char>& image, int n) {
    auto values = Walk(image.data(), static_cast<unsigned>(image.size()));
    return n >= 1 && n <= static_cast<int>(values.size()) ? values[n - 1] : 0;
}

TEST(SakuraList, CountsOnlyEntriesWhoseKeyContainsHwnd) {
    auto image = Image(
        "0.path\x01"
        "C:\\ssp\r\n"
        "0.hwnd\x01"
        "1234\r\n"
        "0.name\x01"
        "77\r\n"
        "1.kerohwndlist\x01"
        "567\r\n"
        "1.HWND\x01"
        "999\r\n");
    EXPECT_EQ(Find(image, 1), 1234);
    EXPECT_EQ(Find(image, 2), 567);  // "hwnd" inside a longer key counts
    EXPECT_EQ(Find(image, 3), 0);    // case-sensitive: "HWND" does not
    EXPECT_EQ(Find(image, 0), 0);
    EXPECT_EQ(Find(image, -1), 0);
}

TEST(SakuraList, KeyStartsAtTheFirstDotOfItsEntry) {
    // The identifier ends at the first "."; the key may carry dots of its own.
    auto image = Image(
        "ghost.sakura.hwnd\x01"
        "42\r\n");
    EXPECT_EQ(Find(image, 1), 42);
    // A "hwnd" in the identifier is not part of the key.
    EXPECT_EQ(Find(Image("hwnd.name\x01"
                         "42\r\n"),
                   1),
              0);
}

TEST(SakuraList, ValueIsReadLikeTheHostsDecimalText) {
    EXPECT_EQ(Find(Image("0.hwnd\x01"
                         "0012\r\n"),
                   1),
              12);
    EXPECT_EQ(Find(Image("0.hwnd\x01"
                         " \t 345\r\n"),
                   1),
              345);
    EXPECT_EQ(Find(Image("0.hwnd\x01"
                         "-5\r\n"),
                   1),
              -5);
    EXPECT_EQ(Find(Image("0.hwnd\x01"
                         "+77x9\r\n"),
                   1),
              77);
    EXPECT_EQ(Find(Image("0.hwnd\x01"
                         "4294967295\r\n"),
                   1),
              -1);  // wraps like 32-bit int
    // A value that is not a number gives 0, which ends the callers' scan.
    auto image = Image(
        "0.hwnd\x01"
        "none\r\n"
        "0.hwnd\x01"
        "5\r\n");
    EXPECT_EQ(Find(image, 1), 0);
    EXPECT_EQ(Find(image, 2), 5);
}

TEST(SakuraList, SkipsEntriesThatBreakTheFormat) {
    // Key of 19 bytes fits; 20 is skipped and not counted.
    auto image = Image(
        "0.aaaaaaaaaaaaaaahwnd\x01"
        "1\r\n"  // 19-byte key
        "0.aaaaaaaaaaaaaaaahwnd\x01"
        "2\r\n"  // 20-byte key
        "0.hwnd\x01"
        "1234567890\r\n"  // 10 characters
        "0.hwnd\x01"
        "12345678901\r\n"  // 11 characters
        "nodot_hwnd\x01"
        "3\r\n"  // no "." before the 0x01
        "0.hwnd\x01"
        "4\r\n");
    EXPECT_EQ(Find(image, 1), 1);
    EXPECT_EQ(Find(image, 2), 1234567890);
    EXPECT_EQ(Find(image, 3), 4);
    EXPECT_EQ(Find(image, 4), 0);
}

TEST(SakuraList, ListEndsAtZeroByteAtMissingCrOrAtTheEndOfTheData) {
    // Entries after the first zero byte are not part of the list.
    auto image = Image(std::string("0.hwnd\x01"
                                   "1\r\n") +
                       std::string(1, '\0') +
                       "0.hwnd\x01"
                       "2\r\n");
    EXPECT_EQ(Find(image, 2), 0);
    // A value without its 0x0D is unfinished.
    EXPECT_EQ(Find(Image("0.hwnd\x01"
                         "1\r\n"
                         "0.hwnd\x01"
                         "2"),
                   2),
              0);
    // CR as the very last byte of a list without zero byte: the entry counts.
    EXPECT_EQ(Find(Image("0.hwnd\x01"
                         "7\r",
                         4 + 9),
                   1),
              7);
    // Data shorter than the four-byte header, or exactly the header.
    EXPECT_EQ(Find(Image("", 4), 1), 0);
    EXPECT_TRUE(Walk(nullptr, 0).empty());
}

TEST(SakuraList, StaysInsideDataWithoutAnyZeroByte) {
    // A full page of repeated entries with no terminator, cut in the middle of one: under
    // AddressSanitizer any read past the vector fails the test.
    std::string text;
    while (text.size() < 4096)
        text +=
            "9.hwnd\x01"
            "3177\r\n";  // 13 bytes: 314 entries and a piece
    auto image = Image(text.substr(0, 4092), 4096);
    EXPECT_EQ(Find(image, 1), 3177);
    EXPECT_EQ(Find(image, 314), 3177);
    EXPECT_EQ(Find(image, 315), 0);
}

// The readable part of the view, from the records the system gives for its regions. The
// numbers are the system's: MEM_COMMIT 0x1000, MEM_RESERVE 0x2000, PAGE_READONLY 2,
// PAGE_READWRITE 4, PAGE_NOACCESS 1, PAGE_GUARD 0x100, PAGE_EXECUTE 0x10.
TEST(SakuraList, CopiesOnlyCommittedReadablePagesFromTheStart) {
    const unsigned long kCommit = 0x1000, kReserve = 0x2000;
    const unsigned kLimit = 65536;
    auto bytes = [&](std::vector<MkRegion> regions) {
        return SakuraReadableBytes(regions.data(), static_cast<unsigned>(regions.size()), kLimit);
    };
    // One readable region, larger or smaller than what is read.
    EXPECT_EQ(bytes({{kCommit, 2, 1 << 20}}), kLimit);
    EXPECT_EQ(bytes({{kCommit, 4, 4096}}), 4096u);
    // Consecutive readable regions add up, capped at the limit.
    EXPECT_EQ(bytes({{kCommit, 2, 8192}, {kCommit, 4, 4096}, {kReserve, 0, 4096}}), 12288u);
    EXPECT_EQ(bytes({{kCommit, 4, 61440}, {kCommit, 2, 8192}}), kLimit);
    // Reserved (a SEC_RESERVE mapping), inaccessible or guarded pages end the copy, and
    // nothing after them is read even when it is readable.
    EXPECT_EQ(bytes({{kReserve, 0, 65536}}), 0u);
    EXPECT_EQ(bytes({{kCommit, 1, 4096}, {kCommit, 4, 4096}}), 0u);
    EXPECT_EQ(bytes({{kCommit, 4 | 0x100, 4096}}), 0u);
    EXPECT_EQ(bytes({{kCommit, 4, 4096}, {kCommit, 2 | 0x100, 4096}, {kCommit, 4, 4096}}), 4096u);
    // Execute-only pages are not readable; a protection modifier such as PAGE_NOCACHE is.
    EXPECT_EQ(bytes({{kCommit, 0x10, 4096}}), 0u);
    EXPECT_EQ(bytes({{kCommit, 4 | 0x200, 4096}}), 4096u);
    // No records, or a record of no size, read nothing further.
    EXPECT_EQ(bytes({}), 0u);
    EXPECT_EQ(bytes({{kCommit, 4, 0}, {kCommit, 4, 4096}}), 0u);
}

// Lists made of what the host writes and of what breaks the format, in random order.
std::string RandomList(std::mt19937& rng, std::vector<int>* values) {
    std::string text;
    const int entries = static_cast<int>(rng() % 40);
    for (int e = 0; e < entries; ++e) {
        const int value = static_cast<int>(rng() % 50);  // small, so that lists repeat them
        values->push_back(value);
        const std::string v = std::to_string(value);
        switch (rng() % 9) {
            case 0:
                text += "1.name\x01mkhost\r\n";
                break;
            case 1:
                text += "1.aaaaaaaaaaaaaaaahwnd\x01" + v + "\r\n";  // key of 20 bytes
                break;
            case 2:
                text += "1.hwnd\x01" + v + "0000000000\r\n";  // value of 11 characters or more
                break;
            case 3:
                text += "nodot_hwnd\x01" + v + "\r\n";
                break;
            case 4:
                text += "2.kerohwnd\x01 " + v + "x\r\n";
                break;
            case 5:
                text += "3.hwnd\x01none\r\n";  // reads as 0
                break;
            default:
                text += "0.hwnd\x01" + v + "\r\n";
                break;
        }
    }
    switch (rng() % 4) {
        case 0:
            text +=
                "0.hwnd\x01"
                "12";  // unfinished last entry
            break;
        case 1:
            text += std::string(1, '\0') +
                    "0.hwnd\x01"
                    "7\r\n";  // after the end
            break;
        default:
            break;
    }
    return text;
}

TEST(SakuraList, WalkFindsTheWindowTheSearchOneEntryAtATimeFound) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 3000; ++round) {
        std::vector<int> values;
        std::string text = RandomList(rng, &values);
        // Sometimes without a zero byte, cut anywhere.
        auto image = rng() % 5 == 0 ? Image(text, 4 + rng() % (text.size() + 1)) : Image(text);
        const unsigned size = static_cast<unsigned>(image.size());
        auto walked = Walk(image.data(), size);
        for (int n = 1; n <= static_cast<int>(walked.size()) + 1; ++n)
            ASSERT_EQ(Find(image, n), mk::reference::NthHwnd(image.data(), size, n))
                << "round " << round << " n=" << n;
        // The process's windows: a random few of the values written.
        const int mine = values.empty() ? 1 : values[rng() % values.size()];
        auto belongs = [](int window, void* context) {
            return window % 7 == *static_cast<int*>(context) % 7;
        };
        int context = mine;
        EXPECT_EQ(SakuraListFindWindow(image.data(), size, 999, belongs, &context),
                  mk::reference::FindWindow(image.data(), size,
                                            [&](int window) { return belongs(window, &context); }))
            << "round " << round;
    }
}

TEST(SakuraList, WindowSearchTriesAtMost999EntriesAndStopsAtAZeroValue) {
    std::string text;
    for (int i = 1; i <= 1000; ++i)
        text += "0.hwnd\x01" + std::to_string(i) + "\r\n";
    auto image = Image(text);
    const unsigned size = static_cast<unsigned>(image.size());
    auto is = [](int window, void* context) { return window == *static_cast<int*>(context); };
    int wanted = 999;
    EXPECT_EQ(SakuraListFindWindow(image.data(), size, 999, is, &wanted), 999);
    wanted = 1000;
    EXPECT_EQ(SakuraListFindWindow(image.data(), size, 999, is, &wanted), 0);
    // A value that is no window ends the search, also when a later entry would belong.
    auto stops = Image(
        "0.hwnd\x01"
        "5\r\n"
        "0.hwnd\x01"
        "0\r\n"
        "0.hwnd\x01"
        "9\r\n");
    wanted = 9;
    EXPECT_EQ(
        SakuraListFindWindow(stops.data(), static_cast<unsigned>(stops.size()), 999, is, &wanted),
        0);
}

}  // namespace
