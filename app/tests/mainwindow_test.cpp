// The main window's plain decisions: its control table, the hover decision, the link font's
// height, the question before a registration change and the state a declined change restores.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/mainwindow.h"

namespace {

TEST(MainWindowControlTable, HoldsTwelveControlsWithUniqueIdsInCreationOrder) {
    const auto& controls = MainWindowControls();
    std::set<int> ids;
    for (size_t i = 0; i < controls.size(); ++i) {
        EXPECT_EQ(1001 + static_cast<int>(i), controls[i].id) << "at position " << i;
        ids.insert(controls[i].id);
    }
    EXPECT_EQ(kMainWindowControlCount, ids.size());
}

TEST(MainWindowControlTable, LetsTabReachOnlyThePathFieldTheBrowseButtonAndTheCheckBox) {
    std::set<int> reachable;
    for (const ControlRow& control : MainWindowControls())
        if ((control.style & WS_TABSTOP) && !(control.style & WS_DISABLED))
            reachable.insert(control.id);
    EXPECT_EQ((std::set<int>{IDC_PATH, IDC_BROWSE, IDC_REGISTERED}), reachable);
}

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

TEST(MainWindowControlTable, CreatesTheWindowHiddenAndShowsItOnlyAfterInitialisation) {
    EXPECT_FALSE(kMainWindowLayout.style & WS_VISIBLE) << std::hex << "style " << kMainWindowLayout.style;
    EXPECT_EQ(0x94CB00D4u, kMainWindowLayout.style | WS_VISIBLE);
}

TEST(MainWindowHover, TakesTheIdOfTheControlUnderThePointer) {
    HoverDecision overLink = DecideHover(0, true, IDC_MORE);
    EXPECT_EQ(IDC_MORE, overLink.hoveredId);
    EXPECT_TRUE(overLink.handCursor);

    HoverDecision overLabel = DecideHover(IDC_MORE, true, IDC_HINT);
    EXPECT_EQ(IDC_HINT, overLabel.hoveredId);
    EXPECT_FALSE(overLabel.handCursor);

    // Over the window's own surface (or a disabled field, which is skipped) the window itself
    // answers, and its id is never the link's.
    HoverDecision overBackground = DecideHover(IDC_MORE, true, 0);
    EXPECT_EQ(0, overBackground.hoveredId);
    EXPECT_FALSE(overBackground.handCursor);
}

TEST(MainWindowHover, KeepsTheHoveredIdWhenNoChildAnswers) {
    HoverDecision stillLink = DecideHover(IDC_MORE, false, 0);
    EXPECT_EQ(IDC_MORE, stillLink.hoveredId);
    EXPECT_TRUE(stillLink.handCursor);

    HoverDecision stillNothing = DecideHover(0, false, IDC_MORE);
    EXPECT_EQ(0, stillNothing.hoveredId);
    EXPECT_FALSE(stillNothing.handCursor);
}

TEST(MainWindowLinkFont, IsTenPointsInPixelsRoundedToTheNearest) {
    EXPECT_EQ(-13, LinkFontHeight(96));  // 13.33
    EXPECT_EQ(-17, LinkFontHeight(120)); // 16.67 rounds up
    EXPECT_EQ(-10, LinkFontHeight(72));
    EXPECT_EQ(-20, LinkFontHeight(144));
}

TEST(MainWindowQuestion, NamesThePathBetweenApostrophesWithNothingAfter) {
    EXPECT_EQ("Are you sure you want to register 'C:\\libs\\a b.tlb'",
              RegistrationQuestion(BST_CHECKED, "C:\\libs\\a b.tlb"));
    EXPECT_EQ("Are you sure you want to unregister 'C:\\libs\\a b.tlb'",
              RegistrationQuestion(BST_UNCHECKED, "C:\\libs\\a b.tlb"));
}

TEST(MainWindowQuestion, KeepsThePathExactlyAsTyped) {
    // Relative paths, apostrophes and percent signs go into the text unchanged.
    EXPECT_EQ("Are you sure you want to register 'it's 100%.tlb'",
              RegistrationQuestion(BST_CHECKED, "it's 100%.tlb"));
    EXPECT_EQ("Are you sure you want to unregister '\xE9t\xE9.olb'",
              RegistrationQuestion(BST_UNCHECKED, "\xE9t\xE9.olb"));
}

TEST(MainWindowCheckBox, GivesTheOppositeOfTheStateTheClickLeft) {
    EXPECT_EQ(BST_CHECKED, CheckStateBefore(BST_UNCHECKED));
    EXPECT_EQ(BST_UNCHECKED, CheckStateBefore(BST_CHECKED));
}

} // namespace
