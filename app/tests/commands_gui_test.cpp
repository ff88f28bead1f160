// The main window's commands end to end: Corvane.exe runs as a child process, the driver
// types paths, clicks the "Registered" box and the ".." button, and answers the message boxes;
// the registry shows what happened. Each library has a private GUID, removed afterwards.
#include <gtest/gtest.h>

#include <string>

#include "app/mainwindow.h"
#include "common/owners.h"
#include "common/registrytext.h"
#include "common/text.h"
#include "registration/registration.h"
#include "reader/tests/damage.h"
#include "tests/support/driver.h"
#include "tests/support/testsupport.h"

namespace {

using testsupport::KeyExists;

using testsupport::Hex;
using testsupport::LibraryRecipe;
using testsupport::TempFolder;

constexpr char kDialogTitle[] = "Choose Type Library to Register";

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
    // Clicks ".." and gives the open-file dialog, or null when none came.
    HWND OpenChooser() const {
        driver::Click(Item(IDC_BROWSE));
        return driver::WaitForDialog(process.Id(), kDialogTitle);
    }
    void Close() {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        process.WaitForExit(driver::kDefaultWaitMs);
    }
};

#define ASSERT_STARTED(corvane) ASSERT_TRUE((corvane).window) << "Corvane.exe showed no main window"

void ExpectOutcome(const driver::MessageBoxView& box, int registerFlag, const std::string& path,
                   HRESULT result) {
    OutcomeMessage expected = RegistrationOutcome(registerFlag, path, result);
    ASSERT_TRUE(box) << "no outcome message";
    EXPECT_EQ(expected.text, box.text);
    EXPECT_EQ(Hex(expected.style), Hex(box.style));
}

TEST(CorvaneCheckBox, ClearsItselfWithoutAQuestionWhenThePathFieldIsEmpty) {
    Corvane corvane;
    ASSERT_STARTED(corvane);
    driver::MessageBoxView box = corvane.ClickBox(1000);
    EXPECT_FALSE(box) << "a box came: " << box.text;
    EXPECT_EQ(BST_UNCHECKED, corvane.BoxState());
    corvane.Close();
}

TEST(CorvaneCheckBox, RegistersAndUnregistersTheTypedPathAfterYes) {
    testsupport::TempFolder folder;
    MadeLibrary library(folder, "yes.tlb", "YesLib");
    ASSERT_TRUE(library.created);
    Corvane corvane;
    ASSERT_STARTED(corvane);
    ASSERT_TRUE(driver::SetPathText(corvane.window, library.path));

    driver::MessageBoxView question = corvane.ClickBox();
    ASSERT_TRUE(question) << "no question";
    EXPECT_EQ("Are you sure you want to register '" + library.path + "'", question.text);
    EXPECT_EQ("Corvane", question.caption);
    EXPECT_EQ(Hex(MB_YESNO | MB_ICONQUESTION), Hex(question.style));
    EXPECT_EQ(nullptr, GetWindow(question.window, GW_OWNER));
    ExpectOutcome(corvane.AnswerAndWaitNext(question, IDYES), 1, library.path, S_OK);
    driver::MessageBoxView outcome = driver::FindMessageBox(corvane.process.Id());
    corvane.AnswerAndWaitNext(outcome, IDOK, 500);
    EXPECT_TRUE(library.Registered()) << VersionKey(library.recipe);
    EXPECT_EQ(BST_CHECKED, corvane.BoxState());

    question = corvane.ClickBox();
    ASSERT_TRUE(question) << "no question";
    EXPECT_EQ("Are you sure you want to unregister '" + library.path + "'", question.text);
    EXPECT_EQ(Hex(MB_YESNO | MB_ICONQUESTION), Hex(question.style));
    ExpectOutcome(corvane.AnswerAndWaitNext(question, IDYES), 0, library.path, S_OK);
    outcome = driver::FindMessageBox(corvane.process.Id());
    corvane.AnswerAndWaitNext(outcome, IDOK, 500);
    EXPECT_FALSE(library.Registered()) << VersionKey(library.recipe);
    EXPECT_EQ(BST_UNCHECKED, corvane.BoxState());
    corvane.Close();
}

TEST(CorvaneCheckBox, PutsTheBoxBackAfterNoAndChangesNothing) {
    testsupport::TempFolder folder;
    MadeLibrary library(folder, "no.tlb", "NoLib");
    ASSERT_TRUE(library.created);
    Corvane corvane;
    ASSERT_STARTED(corvane);
    ASSERT_TRUE(driver::SetPathText(corvane.window, library.path));

    // Declining to register: cleared again, nothing written, nothing more shown.
    driver::MessageBoxView question = corvane.ClickBox();
    ASSERT_TRUE(question);
    driver::MessageBoxView next = corvane.AnswerAndWaitNext(question, IDNO, 1000);
    EXPECT_FALSE(next) << "after No came: " << next.text;
    EXPECT_EQ(BST_UNCHECKED, corvane.BoxState());
    EXPECT_FALSE(library.Registered());

    // Declining to unregister a registered library: checked again, still registered.
    question = corvane.ClickBox();
    ASSERT_TRUE(question);
    corvane.AnswerAndWaitNext(question, IDYES);
    corvane.AnswerAndWaitNext(driver::FindMessageBox(corvane.process.Id()), IDOK, 500);
    ASSERT_TRUE(library.Registered());
    question = corvane.ClickBox();
    ASSERT_TRUE(question);
    EXPECT_EQ("Are you sure you want to unregister '" + library.path + "'", question.text);
    next = corvane.AnswerAndWaitNext(question, IDNO, 1000);
    EXPECT_FALSE(next) << "after No came: " << next.text;
    EXPECT_EQ(BST_CHECKED, corvane.BoxState());
    EXPECT_TRUE(library.Registered());
    corvane.Close();
}

TEST(CorvaneCheckBox, PutsTheBoxBackAndKeepsTheFactsWhenRegistrationFails) {
    testsupport::TempFolder folder;
    MadeLibrary shown(folder, "shown.tlb", "ShownLib");
    ASSERT_TRUE(shown.created);
    std::string text = folder.File("notes.tlb");
    testsupport::WriteFileBytes(text, "not a type library\r\n");
    Corvane corvane;
    ASSERT_STARTED(corvane);
    ASSERT_TRUE(corvane.ChooseFile(shown.path));
    std::string facts = corvane.Facts();
    ASSERT_EQ(BST_UNCHECKED, corvane.BoxState()) << "the shown library is not registered";

    ASSERT_TRUE(driver::SetPathText(corvane.window, text));
    driver::MessageBoxView question = corvane.ClickBox();
    ASSERT_TRUE(question);
    EXPECT_EQ("Are you sure you want to register '" + text + "'", question.text);
    driver::MessageBoxView outcome = corvane.AnswerAndWaitNext(question, IDYES);
    ExpectOutcome(outcome, 1, text, kNotATypeLibrary);
    corvane.AnswerAndWaitNext(outcome, IDOK, 500);
    EXPECT_EQ(BST_UNCHECKED, corvane.BoxState());
    EXPECT_EQ(facts, corvane.Facts());
    EXPECT_EQ(text, driver::Text(corvane.Item(IDC_PATH)));
    corvane.Close();
}

TEST(CorvaneCheckBox, ActsOnAPathTypedAfterTheFactsWereShownAndKeepsTheFacts) {
    testsupport::TempFolder folder;
    MadeLibrary shown(folder, "shown.tlb", "ShownLib");
    MadeLibrary typed(folder, "typed.tlb", "TypedLib");
    ASSERT_TRUE(shown.created && typed.created);
    Corvane corvane;
    ASSERT_STARTED(corvane);
    ASSERT_TRUE(corvane.ChooseFile(shown.path));
    std::string facts = corvane.Facts();
    EXPECT_NE(std::string::npos, facts.find(testsupport::GuidAnsi(shown.recipe.guid))) << facts;

    ASSERT_TRUE(driver::SetPathText(corvane.window, typed.path));
    driver::MessageBoxView question = corvane.ClickBox();
    ASSERT_TRUE(question);
    EXPECT_EQ("Are you sure you want to register '" + typed.path + "'", question.text);
    driver::MessageBoxView outcome = corvane.AnswerAndWaitNext(question, IDYES);
    ExpectOutcome(outcome, 1, typed.path, S_OK);
    corvane.AnswerAndWaitNext(outcome, IDOK, 500);

    EXPECT_TRUE(typed.Registered()) << VersionKey(typed.recipe);
    EXPECT_FALSE(shown.Registered()) << VersionKey(shown.recipe);
    EXPECT_EQ(BST_CHECKED, corvane.BoxState());
    EXPECT_EQ(facts, corvane.Facts()) << "the fields are not read again";
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

std::vector<std::string> PathList(HWND mainWindow) {
    HWND field = driver::Control(mainWindow, IDC_PATH);
    DWORD_PTR count = 0;
    SendMessageTimeoutA(field, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count);
    std::vector<std::string> entries;
    for (DWORD_PTR i = 0; i < count; ++i) {
        // Asked in UTF-16: Wine 8 hands CB_GETLBTEXT between processes in its wide form, so an
        // ANSI request from another process receives UTF-16 bytes.
        wchar_t entry[1040] = L"";
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(field, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry), SMTO_ABORTIFHUNG, 5000,
                            &ignored);
        entries.push_back(ToAnsi(std::wstring(entry)));
    }
    return entries;
}

// Choosing a file: its path goes into the path field and, sorted, into the list; a file without
// a library keeps its path and clears the facts (ChooseFile checks both). Then the dialog opens
// 30 pixels right of and below the main window wherever that is, and Cancel leaves all as it was.
TEST(ChooserInCorvane, AddsChosenPathsInSortedPlacesAndOpensBesideTheWindowWhereCancelChangesNothing) {
    TempFolder folder;
    MadeLibrary library(folder, "B.tlb", "Shapes");
    ASSERT_TRUE(library.created);
    std::string notes = folder.File("notes.tlb");
    testsupport::WriteFileBytes(notes, "not a type library");
    Corvane corvane;
    ASSERT_STARTED(corvane);
    ASSERT_TRUE(corvane.ChooseFile(library.path));
    ASSERT_TRUE(corvane.ChooseFile(notes, false));
    // The same library again: a second entry, in its sorted place before notes.tlb, not at the end.
    ASSERT_TRUE(corvane.ChooseFile(library.path));
    const std::vector<std::string> list = {library.path, library.path, notes};
    EXPECT_EQ(PathList(corvane.window), list);
    std::string facts = corvane.Facts();
    ASSERT_TRUE(driver::SetPathText(corvane.window, "typed by hand"));

    for (POINT moveTo : {POINT{-1, -1}, POINT{402, 260}}) {
        if (moveTo.x >= 0)
            SetWindowPos(corvane.window, nullptr, moveTo.x, moveTo.y, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        RECT mainRect = driver::RectInParent(corvane.window);
        SCOPED_TRACE("main window at " + std::to_string(mainRect.left) + "," + std::to_string(mainRect.top));
        HWND dialog = corvane.OpenChooser();
        ASSERT_NE(dialog, nullptr) << "no dialog titled " << kDialogTitle;
        RECT dialogRect = driver::RectInParent(dialog);
        EXPECT_EQ(dialogRect.left, mainRect.left + 30);
        EXPECT_EQ(dialogRect.top, mainRect.top + 30);
        // The type box shows the description; Windows adds nothing to it either when the
        // description is given.
        EXPECT_EQ(driver::Text(driver::Control(dialog, cmb1)), "Type Libraries");
        driver::Answer(dialog, IDCANCEL);
        ASSERT_TRUE(driver::WaitForGone(dialog));
        EXPECT_EQ(driver::Text(corvane.Item(IDC_PATH)), "typed by hand");
        EXPECT_EQ(PathList(corvane.window), list);
        EXPECT_EQ(corvane.Facts(), facts);
        EXPECT_FALSE(driver::FindMessageBox(corvane.process.Id())) << "Cancel shows nothing";
    }
    corvane.Close();
}

} // namespace
