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

TEST_F(RegistrationChange, AFileWithoutATypeLibraryIsReportedAsNotACOMObject) {
    std::string path = folder_.File("readme.txt");
    testsupport::WriteFileBytes(path, "plain text");
    driver::BoxAnswerer answerer;

    EXPECT_EQ(ChangeRegistration(nullptr, path, 1, 1), static_cast<HRESULT>(0x80029C4A));

    driver::SeenBox seen = answerer.Wait();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen.box.text, kNotACOMObjectText);
    EXPECT_EQ(Icon(seen), static_cast<UINT>(MB_ICONHAND));
}

TEST(RegistrationOutcome, SuccessNamesTheDirectionAndThePathExactlyAsTyped) {
    OutcomeMessage registered = RegistrationOutcome(1, "sub\\Shapes.tlb", S_OK);
    EXPECT_EQ(registered.text, "Register Type Library sub\\Shapes.tlb succeeded.");
    EXPECT_EQ(registered.style, 0x40u);
    OutcomeMessage unregistered = RegistrationOutcome(0, "C:\\libs\\Shapes.tlb", S_OK);
    EXPECT_EQ(unregistered.text, "Unregister Type Library C:\\libs\\Shapes.tlb succeeded.");
    EXPECT_EQ(unregistered.style, 0x40u);
}

TEST(RegistrationOutcome, AFileWithoutATypeLibraryHasItsOwnTextInBothDirections) {
    for (int direction : {1, 0}) {
        SCOPED_TRACE(direction ? "register" : "unregister");
        OutcomeMessage message = RegistrationOutcome(direction, "notes.txt", TYPE_E_CANTLOADLIBRARY);
        EXPECT_EQ(message.text, kNotACOMObjectText);
        EXPECT_EQ(message.style, 0x10u);
    }
}

TEST(RegistrationOutcome, OtherFailuresShowTheCodeAsEightUpperCaseHexDigits) {
    OutcomeMessage failed = RegistrationOutcome(0, "a.tlb", E_FAIL);
    EXPECT_EQ(failed.text, "Unregister Type Library a.tlb failed: the error returned was 80004005");
    EXPECT_EQ(failed.style, 0x10u);
    OutcomeMessage elementNotFound = RegistrationOutcome(1, "b.olb", static_cast<HRESULT>(0x8002801C));
    EXPECT_EQ(elementNotFound.text, "Register Type Library b.olb failed: the error returned was 8002801C");
    EXPECT_EQ(elementNotFound.style, 0x10u);
}
