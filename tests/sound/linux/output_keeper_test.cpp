#include "sound/linux/output_keeper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace veska {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// An output that a test can take away and give back, as a sound server
// ending and starting again does.
struct FakeOutput {
  std::atomic<bool> playing{true};
  std::atomic<bool> server_up{true};
  std::atomic<int> closes{0};
  std::atomic<int> reopens{0};

  OutputKeeper::Output Hooks() {
    return {
        .playing = [this] { return playing.load(); },
        .close = [this] { ++closes; },
        .reopen =
            [this] {
              ++reopens;
              if (server_up) playing = true;
              return server_up.load();
            },
    };
  }
};

template <typename Condition>
bool WaitFor(Condition condition) {
  const auto give_up = steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

std::string ReadAll(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(char(c));
  return text;
}

TEST(OutputKeeper, ReopensALostOutputAtItsPaceAndSaysSoOnce) {
  std::FILE* messages = std::tmpfile();
  ASSERT_NE(messages, nullptr);
  FakeOutput output;
  constexpr milliseconds kPeriod{5};
  OutputKeeper keeper(output.Hooks(), messages, kPeriod);
  keeper.Start();
  keeper.Start();  // a second Start keeps the one thread
  EXPECT_TRUE(keeper.Running());

  output.server_up = false;
  output.playing = false;
  ASSERT_TRUE(WaitFor([&] { return output.reopens >= 10; }));
  // While the server is away the output is tried again at the keeper's
  // pace, never in a busy loop.
  const int reopens_before = output.reopens;
  const auto start = steady_clock::now();
  std::this_thread::sleep_for(milliseconds(100));
  const int reopens = output.reopens - reopens_before;
  const auto elapsed = steady_clock::now() - start;
  EXPECT_LE(reopens, elapsed / kPeriod + 2);
  EXPECT_EQ(output.closes, 1);

  output.server_up = true;
  ASSERT_TRUE(WaitFor([&] { return output.playing.load(); }));
  std::this_thread::sleep_for(milliseconds(30));
  const int reopens_after = output.reopens;
  std::this_thread::sleep_for(milliseconds(30));
  EXPECT_EQ(output.reopens, reopens_after);  // a playing output is left be

  // A second loss is told again, once.
  output.server_up = false;
  output.playing = false;
  ASSERT_TRUE(WaitFor([&] { return output.closes == 2; }));
  output.server_up = true;
  ASSERT_TRUE(WaitFor([&] { return output.playing.load(); }));
  keeper.Stop();
  EXPECT_FALSE(keeper.Running());

  const std::string lost =
      "Sound output lost; it is reopened when it returns.\n";
  const std::string back = "Sound output back.\n";
  EXPECT_EQ(ReadAll(messages), lost + back + lost + back);
  std::fclose(messages);
}

TEST(OutputKeeper, StopEndsAtOnceAndLeavesALostOutputClosed) {
  FakeOutput output;
  OutputKeeper keeper(output.Hooks(), nullptr, milliseconds(5));
  keeper.Start();
  output.server_up = false;
  output.playing = false;
  ASSERT_TRUE(WaitFor([&] { return output.closes == 1; }));
  keeper.Stop();
  const int reopens = output.reopens;
  std::this_thread::sleep_for(milliseconds(30));
  EXPECT_EQ(output.reopens, reopens);
  EXPECT_EQ(output.closes, 1);

  // A keeper that looks once an hour still stops without waiting for it.
  OutputKeeper slow(output.Hooks(), nullptr, std::chrono::hours(1));
  slow.Start();
  const auto start = steady_clock::now();
  slow.Stop();
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace veska
