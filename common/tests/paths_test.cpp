#include <gtest/gtest.h>

#include "common/paths.h"

TEST(Paths, AResourceIndexIsOneToFiveDigitsAfterTheLastSeparator) {
    struct Case {
        const char* path;
        bool split;
        const char* file;
        int index;
    } cases[] = {{"C:\\libs\\lib.dll\\2", true, "C:\\libs\\lib.dll", 2},
                 {"lib.dll/12345", true, "lib.dll", 12345},
                 {"C:\\libs\\lib.dll\\123456", false, "", 0}, // six digits
                 {"C:\\libs\\lib.dll\\2a", false, "", 0},
                 {"C:\\libs\\lib.dll\\", false, "", 0},
                 {"\\2", false, "", 0}, // no file part
                 {"lib.dll", false, "", 0}};
    for (const Case& c : cases) {
        std::string file;
        int index = -1;
        EXPECT_EQ(SplitResourceIndex(std::string(c.path), file, index), c.split) << c.path;
        if (c.split) {
            EXPECT_EQ(file, c.file) << c.path;
            EXPECT_EQ(index, c.index) << c.path;
        }
    }
    std::wstring file;
    int index = 0;
    EXPECT_TRUE(SplitResourceIndex(std::wstring(L"C:\\a.dll\\3"), file, index));
    EXPECT_EQ(file, L"C:\\a.dll");
    EXPECT_EQ(index, 3);
}

TEST(Paths, AFullPathIsResolvedAgainstTheCurrentFolder) {
    char folder[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
    std::string current(folder, length);
    if (current.back() != '\\')
        current += '\\';
    std::string full;
    ASSERT_EQ(FullPath("sub\\..\\a.tlb", full), S_OK);
    EXPECT_EQ(full, current + "a.tlb");
}
