// The main window's commands end to end: Corvane.exe runs as a child process, the driver
// types paths, clicks the "Registered" box and the ".." button, and answers the message boxes;
// the registry shows what happened. Each library has a private GUID, removed afterwards.
#include <gtest/gtest.h>

#include <string>

#include "app/mainwindow.h"
#include "common/owners.h"
#include "common/registrytext.h"
#include "registration/registration.h"
#include "reader/tests/damage.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"

namespace {

using testsupport::KeyExists;

using testsupport::Hex;
using testsupport::LibraryRecipe;
using testsupport::TempFolder;

constexpr HRESULT kNotATypeLibrary = static_cast<HRESULT>(0x80029C4A);

std::string VersionKey(const LibraryRecipe& recipe) {
    return "TypeLib\\" + testsupport::GuidAnsi(recipe.guid) + "\\" + std::to_string(recipe.major) + "." +
           std::to_string(recipe.minor);
}

// A library made for one test, with its registration removed at the end.
struct MadeLibrary {
    LibraryRecipe recipe;
    std::string path;
    MadeLibrary(const testsupport::TempFolder& folder, const std::string& fileName, const std::string& name) {
        recipe.name = name;
        recipe.description = name + " description";
        path = folder.File(fileName);
        created = SUCCEEDED(testsupport::MakeTypeLib(path, recipe));
    }
    MadeLibrary(const MadeLibrary&) = delete;
    MadeLibrary& operator=(const MadeLibrary&) = delete;
    ~MadeLibrary() { testsupport::DeleteTypeLibKey(recipe.guid); }
    bool Registered() const { return KeyExists(HKEY_CLASSES_ROOT, VersionKey(recipe)); }
    bool created = false;
};

// Corvane running with its main window up; killed if the test ends early.
struct Corvane {
    driver::Process process = driver::Start();
    HWND window = process ? driver::WaitForMainWindow(process.Id()) : nullptr;

    HWND Item(int id) const { return GetDlgItem(window, id); }
    int BoxState() const { return driver::CheckState(Item(IDC_REGISTERED)); }
    std::string Facts() const {
        return driver::Text(Item(IDC_NAME)) + "|" + driver::Text(Item(IDC_GUID)) + "|" +
               driver::Text(Item(IDC_VERSION));
    }
    // Clicks the check box and gives the question it raises (empty when none came).
    driver::MessageBoxView ClickBox(DWORD timeoutMs = driver::kDefaultWaitMs) {
        driver::Click(Item(IDC_REGISTERED));
        return driver::WaitForMessageBox(process.Id(), timeoutMs);
    }
    // Answers a box and waits until it is gone; gives the next box (the outcome), if any.
    driver::MessageBoxView AnswerAndWaitNext(const driver::MessageBoxView& box, int button,
                                             DWORD timeoutMs = driver::kDefaultWaitMs) {
        driver::Answer(box.window, button);
        driver::WaitForGone(box.window);
        return driver::WaitForMessageBox(process.Id(), timeoutMs);
    }
    // Shows a library's facts the way the user does: the ".." button and the file dialog. A file
    // that shows no facts (showsFacts false) must leave the fact fields empty.
    ::testing::AssertionResult ChooseFile(const std::string& path, bool showsFacts = true) {
        HWND dialog = OpenChooser();
        if (!dialog)
            return ::testing::AssertionFailure() << "no open-file dialog";
        driver::ChooseInOpenDialog(dialog, path);
        if (!driver::WaitForGone(dialog))
            return ::testing::AssertionFailure() << "the open-file dialog stayed";
        if (!driver::WaitUntil([&] { return driver::Text(Item(IDC_PATH)) == path; }))
            return ::testing::AssertionFailure() << "the path field does not show " << path;
        // The window answers while the file is read, so the path shows before the facts do.
        if (!driver::WaitUntil([&] { return driver::Text(Item(IDC_GUID)).empty() != showsFacts; }))
            return ::testing::AssertionFailure()
                   << (showsFacts ? "no facts shown for " : "facts shown for ") << path;
        return ::testing::AssertionSuccess();
    }
    // Clicks the box and answers its question: Yes must bring the outcome for result, which is
    // answered with OK; No must bring nothing more. Every box that came is answered before the
    // question (which must name the change and the path) and the outcome are judged, so that
    // one wrong box does not leave the next step facing it.
    ::testing::AssertionResult AnswerChange(int registerFlag, const std::string& path, int answer,
                                            HRESULT result = S_OK) {
        driver::MessageBoxView question = ClickBox();
        if (!question)
            return ::testing::AssertionFailure() << "no question";
        bool owned = GetWindow(question.window, GW_OWNER) != nullptr;
        driver::MessageBoxView outcome =
            AnswerAndWaitNext(question, answer, answer == IDYES ? driver::kDefaultWaitMs : 1000);
        if (outcome)
            AnswerAndWaitNext(outcome, IDOK, 500);
        std::string asked = RegistrationQuestion(registerFlag ? BST_CHECKED : BST_UNCHECKED, path);
        if (question.text != asked || question.caption != kProgramCaption ||
            question.style != (MB_YESNO | MB_ICONQUESTION) || owned)
            return ::testing::AssertionFailure()
                   << "question '" << question.text << "' captioned '" << question.caption << "', style "
                   << Hex(question.style) << (owned ? ", owned" : "");
        if (answer != IDYES)
            return outcome ? ::testing::AssertionFailure() << "after No came: " << outcome.text
                           : ::testing::AssertionSuccess();
        OutcomeMessage expected = RegistrationOutcome(registerFlag, path, result);
        if (!outcome || outcome.text != expected.text || outcome.style != expected.style)
            return ::testing::AssertionFailure() << "outcome '" << outcome.text << "' style "
                                                 << Hex(outcome.style) << ", not '" << expected.text << "'";
        return ::testing::AssertionSuccess();
    }
    // Clicks ".." and gives the open-file dialog, or null when none came.
    HWND OpenChooser() const {
        driver::Click(Item(IDC_BROWSE));
        return driver::WaitForDialog(process.Id(), driver::kChooserTitle);
    }
    void Close() {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        process.WaitForExit(driver::kDefaultWaitMs);
    }
};

#define ASSERT_STARTED(corvane) ASSERT_TRUE((corvane).window) << "Corvane.exe showed no main window"

// The box asks before each change and makes it only after Yes; No, or an empty path field, puts
// the box back and changes nothing.
TEST(CorvaneCheckBox, ChangesTheTypedPathsRegistrationOnlyAfterYes) {
    testsupport::TempFolder folder;
    MadeLibrary library(folder, "yes.tlb", "YesLib");
    ASSERT_TRUE(library.created);
    Corvane corvane;
    ASSERT_STARTED(corvane);
    driver::MessageBoxView box = corvane.ClickBox(1000);
    EXPECT_FALSE(box) << "with the path field empty a box came: " << box.text;
    EXPECT_EQ(BST_UNCHECKED, corvane.BoxState());

    ASSERT_TRUE(driver::SetPathText(corvane.window, library.path));
    const struct {
        int registerFlag;
        int answer;
        bool registeredAfter;
    } steps[] = {{1, IDNO, false}, {1, IDYES, true}, {0, IDNO, true}, {0, IDYES, false}};
    for (const auto& step : steps) {
        SCOPED_TRACE((step.registerFlag ? "register, " : "unregister, ") +
                     std::string(step.answer == IDYES ? "Yes" : "No"));
        EXPECT_TRUE(corvane.AnswerChange(step.registerFlag, library.path, step.answer));
        EXPECT_EQ(step.registeredAfter, library.Registered()) << VersionKey(library.recipe);
        EXPECT_EQ(step.registeredAfter ? BST_CHECKED : BST_UNCHECKED, corvane.BoxState());
    }
    corvane.Close();
}

// A path typed after another file's facts were shown is the one changed, and the facts stay;
// a change that fails puts the box back.
TEST(CorvaneCheckBox, ActsOnAPathTypedAfterTheFactsWereShownAndKeepsTheFacts) {
    testsupport::TempFolder folder;
    MadeLibrary shown(folder, "shown.tlb", "ShownLib");
    MadeLibrary typed(folder, "typed.tlb", "TypedLib");
    ASSERT_TRUE(shown.created && typed.created);
    std::string notes = folder.File("notes.tlb");
    testsupport::WriteFileBytes(notes, "not a type library\r\n");
    Corvane corvane;
    ASSERT_STARTED(corvane);
    ASSERT_TRUE(corvane.ChooseFile(shown.path));
    std::string facts = corvane.Facts();
    EXPECT_NE(std::string::npos, facts.find(testsupport::GuidAnsi(shown.recipe.guid))) << facts;
    ASSERT_EQ(BST_UNCHECKED, corvane.BoxState()) << "the shown library is not registered";

    const struct {
        std::string path;
        HRESULT result;
        int boxAfter;
    } cases[] = {{notes, kNotATypeLibrary, BST_UNCHECKED}, {typed.path, S_OK, BST_CHECKED}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_TRUE(driver::SetPathText(corvane.window, c.path));
        EXPECT_TRUE(corvane.AnswerChange(1, c.path, IDYES, c.result));
        EXPECT_EQ(c.boxAfter, corvane.BoxState());
        EXPECT_EQ(facts, corvane.Facts()) << "the fields are not read again";
        EXPECT_EQ(c.path, driver::Text(corvane.Item(IDC_PATH)));
    }
    EXPECT_TRUE(typed.Registered()) << VersionKey(typed.recipe);
    EXPECT_FALSE(shown.Registered()) << VersionKey(shown.recipe);
    corvane.Close();
}

// Files that take a process down in the system's loader: choosing one clears the facts and
// registering one fails with its code, and Corvane goes on running with the registry unchanged.
TEST(CorvaneWithDamagedFiles, ClearsTheFactsRefusesToRegisterAndKeepsRunning) {
    TempFolder folder;
    std::vector<std::string> damaged = readertest::WriteKnownCrashers(folder.Path());
    ASSERT_EQ(5u, damaged.size());
    MadeLibrary shown(folder, "shown.tlb", "ShownLib");
    ASSERT_TRUE(shown.created);
    // One of them is a cut copy of stdole2.tlb, whose registration the prefix holds.
    const std::string stdole2 = "TypeLib\\{00020430-0000-0000-C000-000000000046}\\2.0\\0\\win32";
    std::string registeredBefore = ReadRegistryText(HKEY_CLASSES_ROOT, stdole2, nullptr).value_or("");
    Corvane corvane;
    ASSERT_STARTED(corvane);
    for (const std::string& path : damaged) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(corvane.ChooseFile(shown.path));
        ASSERT_TRUE(corvane.ChooseFile(path, false));
        EXPECT_EQ(corvane.Facts(), "||");

        driver::MessageBoxView question = corvane.ClickBox();
        ASSERT_TRUE(question) << "no question";
        driver::MessageBoxView outcome = corvane.AnswerAndWaitNext(question, IDYES);
        ASSERT_TRUE(outcome) << "no outcome";
        EXPECT_EQ(Hex(MB_OK | MB_ICONERROR), Hex(outcome.style)) << outcome.text;
        corvane.AnswerAndWaitNext(outcome, IDOK, 500);
        EXPECT_EQ(BST_UNCHECKED, corvane.BoxState());
        EXPECT_TRUE(corvane.process.Running());
    }
    EXPECT_EQ(ReadRegistryText(HKEY_CLASSES_ROOT, stdole2, nullptr).value_or(""), registeredBefore);
    corvane.Close();
}

// ---- The ".." command ----

// Choosing a file: its path goes into the path field and, sorted, into the list, and its facts
// show; a file without a library keeps its path and clears the facts (ChooseFile checks both). Then the
// dialog opens 30 pixels right of and below the main window wherever that is, and Cancel leaves all as it
// was.
TEST(ChooserInCorvane, AddsChosenPathsInSortedPlacesAndOpensBesideTheWindowWhereCancelChangesNothing) {
    TempFolder folder;
    MadeLibrary library(folder, "B.tlb", "Shapes");
    ASSERT_TRUE(library.created);
    std::string notes = folder.File("notes.tlb");
    testsupport::WriteFileBytes(notes, "not a type library");
    Corvane corvane;
    ASSERT_STARTED(corvane);
    ASSERT_TRUE(corvane.ChooseFile(library.path));
    EXPECT_EQ(corvane.Facts(),
              "Shapes (Shapes description)|" + testsupport::GuidAnsi(library.recipe.guid) + "|1.0");
    EXPECT_EQ(corvane.BoxState(), BST_UNCHECKED);
    ASSERT_TRUE(corvane.ChooseFile(notes, false));
    // The same library again: a second entry, in its sorted place before notes.tlb, not at the end.
    ASSERT_TRUE(corvane.ChooseFile(library.path));
    const std::vector<std::string> list = {library.path, library.path, notes};
    EXPECT_EQ(driver::ComboEntries(corvane.Item(IDC_PATH)), list);
    std::string facts = corvane.Facts();
    ASSERT_TRUE(driver::SetPathText(corvane.window, "typed by hand"));

    for (POINT moveTo : {POINT{-1, -1}, POINT{402, 260}}) {
        if (moveTo.x >= 0)
            SetWindowPos(corvane.window, nullptr, moveTo.x, moveTo.y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT mainRect = driver::RectInParent(corvane.window);
        SCOPED_TRACE("main window at " + std::to_string(mainRect.left) + "," + std::to_string(mainRect.top));
        HWND dialog = corvane.OpenChooser();
        ASSERT_NE(dialog, nullptr) << "no dialog titled " << driver::kChooserTitle;
        RECT dialogRect = driver::RectInParent(dialog);
        EXPECT_EQ(dialogRect.left, mainRect.left + 30);
        EXPECT_EQ(dialogRect.top, mainRect.top + 30);
        // The type box shows the description; Windows adds nothing to it either when the
        // description is given.
        EXPECT_EQ(driver::Text(driver::Control(dialog, cmb1)), "Type Libraries");
        driver::Answer(dialog, IDCANCEL);
        ASSERT_TRUE(driver::WaitForGone(dialog));
        EXPECT_EQ(driver::Text(corvane.Item(IDC_PATH)), "typed by hand");
        EXPECT_EQ(driver::ComboEntries(corvane.Item(IDC_PATH)), list);
        EXPECT_EQ(corvane.Facts(), facts);
        EXPECT_FALSE(driver::FindMessageBox(corvane.process.Id())) << "Cancel shows nothing";
    }
    corvane.Close();
}

} // namespace
