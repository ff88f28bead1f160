// The main window's plain decisions: its control table, the link font's height and the question
// before a registration change. The hover, the Tab order and a declined change's check state
// are tested on the window itself (mainwindow_gui_test, commands_gui_test).
#include <gtest/gtest.h>

#include <string>

#include "app/mainwindow.h"

namespace {

TEST(MainWindowControlTable, KeepsFactFieldsDisabledSoOnlyTheProgramWritesThem) {
    for (int id : {IDC_NAME, IDC_GUID, IDC_VERSION}) {
        const ControlRow& control = MainWindowControls()[id - 1001];
        EXPECT_STREQ("EDIT", control.className) << "control " << id;
        EXPECT_TRUE(control.style & WS_DISABLED)
            << "control " << id << " style " << std::hex << control.style;
        EXPECT_EQ(WS_EX_CLIENTEDGE, control.exStyle) << "control " << id;
    }
}

TEST(MainWindowControlTable, LeavesLabelsWithoutNotifySoMouseMovesReachTheWindow) {
    // The link label works through the window's own mouse messages: a static control with
    // SS_NOTIFY would take them instead.
    for (const ControlRow& control : MainWindowControls()) {
        if (std::string(control.className) == "STATIC") {
            EXPECT_FALSE(control.style & SS_NOTIFY) << "control " << control.id;
        }
    }
}

TEST(MainWindowControlTable, PlacesEveryControlInsideTheWindowExceptTheClippedLinkLabel) {
    const MainWindowLayout& window = kMainWindowLayout;
    for (const ControlRow& control : MainWindowControls()) {
        EXPECT_GT(control.width, 0) << "control " << control.id;
        EXPECT_GT(control.height, 0) << "control " << control.id;
        EXPECT_LE(control.y + control.height, window.height) << "control " << control.id;
        if (control.id == IDC_MORE) {
            EXPECT_GT(control.x + control.width, window.width) << "the link label reaches past";
        } else {
            EXPECT_LE(control.x + control.width, window.width) << "control " << control.id;
        }
    }
}

TEST(MainWindowLinkFont, IsTenPointsInPixelsRoundedToTheNearest) {
    EXPECT_EQ(-13, LinkFontHeight(96));  // 13.33
    EXPECT_EQ(-17, LinkFontHeight(120)); // 16.67 rounds up
    EXPECT_EQ(-10, LinkFontHeight(72));
    EXPECT_EQ(-20, LinkFontHeight(144));
}

TEST(MainWindowQuestion, NamesThePathExactlyAsTypedBetweenApostrophesWithNothingAfter) {
    // Relative paths, apostrophes, percent signs and code page 1252 letters go in unchanged.
    const struct {
        int state;
        const char* path;
        const char* question;
    } cases[] = {
        {BST_CHECKED, "C:\\libs\\a b.tlb", "Are you sure you want to register 'C:\\libs\\a b.tlb'"},
        {BST_UNCHECKED, "C:\\libs\\a b.tlb", "Are you sure you want to unregister 'C:\\libs\\a b.tlb'"},
        {BST_CHECKED, "it's 100%.tlb", "Are you sure you want to register 'it's 100%.tlb'"},
        {BST_UNCHECKED, "\xE9t\xE9.olb", "Are you sure you want to unregister '\xE9t\xE9.olb'"}};
    for (const auto& c : cases)
        EXPECT_EQ(c.question, RegistrationQuestion(c.state, c.path)) << "check state " << c.state;
}

} // namespace
