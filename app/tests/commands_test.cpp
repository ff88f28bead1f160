// The registration change as the window makes it: the outcome shown in a message box without an
// owner, the path exactly as typed, and nothing shown for an empty path.
#include <gtest/gtest.h>

#include "app/mainwindow.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"

namespace {

constexpr char kNotACOMObjectText[] = "This is not a COM object. It cannot be registered.";

UINT Icon(const driver::SeenBox& seen) {
    return seen.box.style & MB_ICONMASK;
}

class RegistrationChange : public testing::Test {
  protected:
    ~RegistrationChange() override { testsupport::DeleteTypeLibKey(recipe_.guid); }
    std::string MakeLibrary(const std::string& name) {
        std::string path = folder_.File(name);
        EXPECT_EQ(testsupport::MakeTypeLib(path, recipe_), S_OK) << path;
        return path;
    }
    ComApartment apartment_;
    testsupport::TempFolder folder_;
    testsupport::LibraryRecipe recipe_;
};

} // namespace

TEST_F(RegistrationChange, AnEmptyPathGivesMinusOneAndShowsNothing) {
    driver::BoxAnswerer answerer(1000);
    EXPECT_EQ(ChangeRegistration(nullptr, "", 1, 1), -1);
    EXPECT_EQ(ChangeRegistration(nullptr, "", 0, 1), -1);
    driver::SeenBox seen = answerer.Wait();
    EXPECT_FALSE(seen) << "a box appeared: " << seen.box.text;
}

TEST_F(RegistrationChange, ASuccessIsReportedInAnInformationBoxWithThePathAsTyped) {
    CreateDirectoryA(folder_.File("sub").c_str(), nullptr);
    MakeLibrary("sub\\Shown.tlb");
    testsupport::CurrentFolderScope inFolder(folder_.Path());
    driver::BoxAnswerer answerer;

    EXPECT_EQ(ChangeRegistration(nullptr, "sub\\Shown.tlb", 1, 1), 0);

    driver::SeenBox seen = answerer.Wait();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen.box.caption, "Corvane");
    EXPECT_EQ(seen.box.text, "Register Type Library sub\\Shown.tlb succeeded.");
    EXPECT_EQ(Icon(seen), static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_FALSE(seen.hasOwner);
}

TEST_F(RegistrationChange, AFailureIsReportedInAnErrorBoxWithTheCode) {
    std::string path = MakeLibrary("Refused.tlb");
    ASSERT_EQ(ChangeRegistration(nullptr, path, 1, 0), 0);
    driver::BoxAnswerer answerer;

    // Without the component the file's identity cannot be read.
    EXPECT_EQ(ChangeRegistration(nullptr, path, 0, 1), REGDB_E_CLASSNOTREG);

    driver::SeenBox seen = answerer.Wait();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen.box.caption, "Corvane");
    EXPECT_EQ(seen.box.text, "Unregister Type Library " + path + " failed: the error returned was 80040154");
    EXPECT_EQ(Icon(seen), static_cast<UINT>(MB_ICONHAND));
}

// The texts the tests above do not see in a box: the other direction of each outcome, a file
// without a type library in both directions, and a code with hexadecimal letters. A real file
// without a library gives the loader's code in the window (CorvaneCheckBox.ActsOnAPathTyped...).
TEST(RegistrationOutcome, NamesTheDirectionThePathAsTypedAndTheCodeInUpperCaseHex) {
    const struct {
        int registerFlag;
        const char* path;
        HRESULT result;
        std::string text;
        UINT style;
    } cases[] = {
        {0, "C:\\libs\\Shapes.tlb", S_OK, "Unregister Type Library C:\\libs\\Shapes.tlb succeeded.", 0x40},
        {0, "notes.txt", TYPE_E_CANTLOADLIBRARY, kNotACOMObjectText, 0x10},
        {1, "readme.txt", TYPE_E_CANTLOADLIBRARY, kNotACOMObjectText, 0x10},
        {1, "b.olb", static_cast<HRESULT>(0x8002801C),
         "Register Type Library b.olb failed: the error returned was 8002801C", 0x10}};
    for (const auto& c : cases) {
        OutcomeMessage message = RegistrationOutcome(c.registerFlag, c.path, c.result);
        EXPECT_EQ(message.text, c.text);
        EXPECT_EQ(message.style, c.style) << message.text;
    }
}
