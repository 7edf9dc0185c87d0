// "Listen to": switching between this computer and a source without a
// restart, what the tooltip says of a source, and the start-up choice.
#include "app/listen_to.h"

#include "app_rig.h"

namespace veska::testing {
namespace {

struct FakeStatus : SourceStatusReader {
  SourceStatus status{true, 7, 8, 2, ""};
  SourceStatus ReadSourceStatus() override { return status; }
};

class ListenToTest : public AppTest {
 protected:
  ListenToTest() {
    remote.processors = 2;
    state.listen.choices = {{kThisComputer, &counters, nullptr},
                            {"web", &remote, &status}};
    Write("sources.ini", "[web]\nPrometheus = http://127.0.0.1:1\n");
    WriteSettings(Pack("cores"), "Volume = 0.5\n");
  }
  std::string Kept() { return ReadSourcesText(Read("sources.ini")).listen; }

  FakeCounterLibrary remote;
  FakeStatus status;
};

TEST_F(ListenToTest, SwitchesBindingsAndVoicesWithoutARestartOrSettings) {
  std::string settings_before;
  shell.QueueMenuChoice(50, kMenuVolume50);  // a save as any command makes
  At(80, [&] {
    settings_before = Read("settings.ini");
    EXPECT_EQ(Live("cpu_a").size(), 4u) << "this computer's four cores";
  });
  shell.QueueMenuChoice(100, kMenuListenFirst + 1);
  At(150, [&] {
    EXPECT_EQ(state.services.counters, &remote);
    EXPECT_EQ(counters.closed.size(), 2u) << "both queries of the old binding";
    EXPECT_EQ(state.monitor.LastCoreIndex, 1);
    EXPECT_EQ(Live("cpu_a").size(), 2u) << "one voice per host";
    EXPECT_TRUE(Playing("cpu_a") && Playing("ram_a"));
    EXPECT_TRUE(shell.IsChecked(kMenuListenFirst + 1));
    EXPECT_FALSE(shell.IsChecked(kMenuListenFirst));
    EXPECT_EQ(Kept(), "web");
    EXPECT_EQ(Read("settings.ini"), settings_before);
  });
  At(5200, [&] {
    ASSERT_FALSE(shell.tooltips().empty());
    EXPECT_EQ(shell.tooltips().back().rfind("web: 7 of 8 hosts - AVG CPU: ", 0),
              0u)
        << shell.tooltips().back();
    status.status.voices = 3;  // a host joined the fleet
    remote.processors = 3;
  });
  At(10200, [&] {
    EXPECT_EQ(Live("cpu_a").size(), 3u);
    status.status = {false, 0, 0, 0, "Couldn't connect to server"};
  });
  At(15200, [&] {
    EXPECT_EQ(shell.tooltips().back().rfind(
                  "web: not answering (Couldn't connect to server) - AVG", 0),
              0u)
        << shell.tooltips().back();
    EXPECT_EQ(Live("cpu_a").size(), 3u) << "no answer changes no voice";
    EXPECT_TRUE(shell.messages().empty()) << "a fault is no message box";
  });
  shell.QueueMenuChoice(15300, kMenuListenFirst);
  At(15400, [&] {
    EXPECT_EQ(state.services.counters, &counters);
    EXPECT_EQ(Live("cpu_a").size(), 4u);
    EXPECT_EQ(Kept(), "");
    EXPECT_EQ(Read("settings.ini"), settings_before);
  });
  shell.QueueMenuChoice(20300, kMenuExit);
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(shell.tooltips().back().rfind("VESKA - AVG CPU: ", 0), 0u);

  std::string order;
  for (const auto& item : shell.menu()) {
    if (item.submenu == "Listen to" || item.id == kMenuExit) {
      order += std::to_string(item.id) + " " + item.text + "|";
    }
  }
  EXPECT_EQ(order, "100 This computer|101 web|1 Exit|");
}

TEST_F(ListenToTest, NoSourceNoMenuAndAFailedSwitchKeepsWhatWasHeard) {
  remote.open_query_fails = true;
  shell.QueueMenuChoice(100, kMenuListenFirst + 1);
  At(150, [&] {
    EXPECT_EQ(state.services.counters, &counters);
    EXPECT_EQ(Live("cpu_a").size(), 4u);
    EXPECT_TRUE(Playing("cpu_a"));
    EXPECT_TRUE(shell.IsChecked(kMenuListenFirst));
    ASSERT_EQ(shell.messages().size(), 1u);
    EXPECT_EQ(shell.messages()[0].text,
              "VESKA can't read the counters of web; it goes on listening to "
              "This computer.");
  });
  shell.QueueMenuChoice(200, kMenuExit);
  EXPECT_EQ(Run(), 0);
}

TEST(PickListenChoiceTest, CommandLineFirstThenTheKeptChoice) {
  FakeCounterLibrary local, remote;
  ListenState listen;
  listen.choices = {{kThisComputer, &local, nullptr},
                    {"web", &remote, nullptr}};
  SourcesFile kept;
  kept.listen = "WEB";
  std::size_t index = 9;
  std::string error;
  const char* none[] = {"veska"};
  EXPECT_TRUE(PickListenChoice(listen, kept, 1, none, &index, &error));
  EXPECT_EQ(index, 1u);
  const char* local_args[] = {"veska", "--listen", "this computer"};
  EXPECT_TRUE(PickListenChoice(listen, kept, 3, local_args, &index, &error));
  EXPECT_EQ(index, 0u);
  const char* unknown[] = {"veska", "--listen", "db"};
  EXPECT_FALSE(PickListenChoice(listen, kept, 3, unknown, &index, &error));
  EXPECT_EQ(error, "VESKA: there is no source named \"db\" in sources.ini.");
  kept.listen = "gone";
  error.clear();
  EXPECT_TRUE(PickListenChoice(listen, kept, 1, none, &index, &error))
      << "a kept choice whose group went is no reason not to start";
  EXPECT_EQ(index, 0u);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace veska::testing
