#include "shell/script/scripted_shell.h"

#include <gtest/gtest.h>

namespace veska {
namespace {

TEST(ScriptedShellTest, DeliversEventsInOrderOnItsClock) {
  ScriptedShell shell;
  shell.QueueMenuChoice(25, 7);
  shell.QueueHotkey(25, 3);
  shell.SetEndMs(100);

  EXPECT_EQ(shell.WaitEvent(10), kEventTimeout);
  EXPECT_EQ(shell.now(), 10u);
  EXPECT_EQ(shell.WaitEvent(10), kEventTimeout);
  EXPECT_EQ(shell.WaitEvent(10), kEventMenu);
  EXPECT_EQ(shell.now(), 25u);
  EXPECT_EQ(shell.EventMenuId(), 7);
  EXPECT_EQ(shell.WaitEvent(10), kEventHotkey);
  EXPECT_EQ(shell.EventParam(), 3);

  shell.SetClock(100);
  EXPECT_THROW(shell.WaitEvent(10), ProcessExit);
}

TEST(ScriptedShellTest, AnswersModalCallsFromTheScriptThenCancels) {
  ScriptedShell shell;
  shell.AnswerMessage(kAnswerYes);
  shell.AnswerFolder("/packs/a/");
  shell.AnswerMessage(kAnswerYes);
  // An OK box between two questions leaves their answers alone.
  EXPECT_EQ(shell.ShowMessage("t", "x", kMessageYesNo), kAnswerYes);
  EXPECT_EQ(shell.ShowMessage("t", "x", kMessageOk), kAnswerOk);
  EXPECT_EQ(shell.ShowMessage("t", "x", kMessageYesNo), kAnswerYes);
  EXPECT_EQ(shell.ShowMessage("t", "x", kMessageYesNo), kAnswerNo);
  EXPECT_EQ(shell.FolderRequester("Select", "/packs"), "/packs/a/");
  EXPECT_EQ(shell.FolderRequester("Select", "/packs"), "");
  shell.AnswerText("");
  shell.CancelText();
  EXPECT_EQ(shell.TextRequester("Volume", "p", "10"), "");
  EXPECT_EQ(shell.TextRequester("Volume", "p", "10"), std::nullopt);
  EXPECT_EQ(shell.TextRequester("Volume", "p", "10"), std::nullopt);
  ASSERT_EQ(shell.messages().size(), 4u);
  EXPECT_EQ(shell.requester_calls().front(), "Select|/packs");
}

TEST(ScriptedShellTest, KeepsMenuStructureChecksAndTooltipLimit) {
  ScriptedShell shell;
  shell.CreatePopupMenu();
  shell.AddMenuItem(0, "Load soundpack...");
  shell.OpenSubMenu("Volume");
  shell.AddMenuItem(2, "100%");
  shell.CloseSubMenu();
  shell.AddMenuItem(1, "Exit");
  shell.SetMenuCheck(2, true);
  shell.SetTrayTooltip(1, std::string(200, 'x'));

  ASSERT_EQ(shell.menu().size(), 3u);
  EXPECT_EQ(shell.menu()[1].submenu, "Volume");
  EXPECT_EQ(shell.menu()[2].submenu, "");
  EXPECT_TRUE(shell.IsChecked(2));
  EXPECT_FALSE(shell.IsChecked(1));
  EXPECT_EQ(shell.tooltips().back().size(), 127u);
  EXPECT_THROW(shell.ExitProcess(0), ProcessExit);
}

}  // namespace
}  // namespace veska
