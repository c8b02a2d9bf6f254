// Listings as servers send them, read into file entries.
#include "lanvex/ftp/ftp_listing.h"

#include <gtest/gtest.h>

namespace lanvex
{
namespace
{

struct Expected
{
    std::string Name, FullName;
    int32_t Size;
    int64_t FullSize;
    bool IsDirectory;
};

struct ListingCase
{
    const char* Label;
    std::string Text;
    bool NamesOnly;
    std::vector<Expected> Entries;
    size_t MaxEntries = SIZE_MAX;
    bool Whole = true; // every line became an entry
};

TEST(FtpListing, EveryLineIsOneEntry)
{
    const std::string long43(43, 'L');
    const ListingCase cases[] = {
        {"names, CR LF",
         "a.txt\r\nb.txt\r\nc\r\n",
         true,
         {{"a.txt", "a.txt", 0, 0, false},
          {"b.txt", "b.txt", 0, 0, false},
          {"c", "c", 0, 0, false}}},
        {"names, bare LF and no final end",
         "a\nb c\nlast",
         true,
         {{"a", "a", 0, 0, false}, {"b", "b c", 0, 0, false}, {"last", "last", 0, 0, false}}},
        {"bare CR ends a line too",
         "a\rb\r\n",
         true,
         {{"a", "a", 0, 0, false}, {"b", "b", 0, 0, false}}},
        {"empty listing", "", true, {}},
        {"an empty line is an entry", "\r\n", true, {{"", "", 0, 0, false}}},
        {"long listing",
         "total 12\r\n"
         "drwxr-xr-x    2 1001     1001         4096 Dec 08 20:54 sub dir\r\n"
         "-rw-r--r--    1 1001     1001        70000 Dec 08 20:54 big file.bin\r\n"
         "lrwxrwxrwx    1 1001     1001            5 Dec 08  2025 ln -> a.txt",
         false,
         {{"", "", 0, 0, false},
          {"sub", "sub dir", 4096, 4096, true},
          {"big", "big file.bin", 70000, 70000, false},
          {"ln", "ln", 5, 5, false}}},
        {"a name's leading blanks are its own: the name is the column after one blank",
         "-rw-r--r-- 1 u g 7 Dec 08 20:54   lead\r\n",
         false,
         {{"lead", "  lead", 7, 7, false}}},
        {"size beyond 32 bits",
         "-rw-r--r-- 1 u g 5000000000 Jan 1 2020 huge\n",
         false,
         {{"huge", "huge", static_cast<int32_t>(5000000000LL - 4294967296LL), 5000000000LL,
           false}}},
        {"name cut at 42 bytes",
         "-rw-r--r-- 1 u g 1 Jan 1 2020 " + long43 + "\n",
         false,
         {{long43.substr(0, 42), long43, 1, 1, false}}},
        {"a number field without a number stops the line",
         "-rw-r--r-- x u g 9 Jan 1 2020 n\n",
         false,
         {{"", "", 0, 0, false}}},
        {"as many lines as allowed",
         "a\nb",
         true,
         {{"a", "a", 0, 0, false}, {"b", "b", 0, 0, false}},
         2},
        {"lines beyond the bound are left",
         "a\nb\n\n",
         true,
         {{"a", "a", 0, 0, false}, {"b", "b", 0, 0, false}},
         2,
         false},
    };
    for (const ListingCase& c : cases)
    {
        SCOPED_TRACE(c.Label);
        std::vector<FtpFileEntry> entries;
        EXPECT_EQ(ParseFtpListing(c.Text, c.NamesOnly, &entries, c.MaxEntries), c.Whole);
        ASSERT_EQ(entries.size(), c.Entries.size());
        for (size_t i = 0; i < entries.size(); ++i)
        {
            EXPECT_EQ(std::string(entries[i].Name), c.Entries[i].Name) << i;
            EXPECT_EQ(entries[i].FullName, c.Entries[i].FullName) << i;
            EXPECT_EQ(entries[i].Size, c.Entries[i].Size) << i;
            EXPECT_EQ(entries[i].FullSize, c.Entries[i].FullSize) << i;
            EXPECT_EQ(entries[i].IsDirectory, c.Entries[i].IsDirectory) << i;
        }
    }
}

TEST(FtpListing, LongLineFieldsInOrderAndCutOnCharacterBoundaries)
{
    // An owner of 19 two-byte characters keeps 9 of them whole (18 of its 19 bytes).
    std::string owner;
    for (int i = 0; i < 19; ++i)
        owner += "\xc3\xa9";
    std::vector<FtpFileEntry> entries;
    ParseFtpListing("total 12\n-rw-r--r--  3 " + owner + " staff 17 Dec  8 20:54 f\n", false,
                    &entries);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_STREQ(entries[0].Permissions, "total");
    EXPECT_EQ(entries[0].Links, 12);
    const FtpFileEntry& e = entries[1];
    EXPECT_STREQ(e.Permissions, "-rw-r--r--");
    EXPECT_EQ(e.Links, 3);
    EXPECT_EQ(std::string(e.Owner), owner.substr(0, 18));
    EXPECT_STREQ(e.Group, "staff");
    EXPECT_STREQ(e.Month, "Dec");
    EXPECT_STREQ(e.Day, "8");
    EXPECT_STREQ(e.TimeOrYear, "20:54");
    EXPECT_STREQ(e.Name, "f");
}

} // namespace
} // namespace lanvex
